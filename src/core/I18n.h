#pragma once
// Native texts through gettext. _("…") marks a text for translation (xgettext reads the
// keyword) and looks it up in the application's catalogue, the text domain
// "wendrel-desktop"; N_("…") only marks it. Texts the page exchanges with the application
// (event names, setting keys, data of events) never go through here.
#ifndef GETTEXT_PACKAGE
#define GETTEXT_PACKAGE "wendrel-desktop"
#endif
#include <glib/gi18n-lib.h>

#include <string>

namespace wd::i18n {

// The folder holding <lang>/LC_MESSAGES/wendrel-desktop.mo: WENDREL_LOCALE_DIR when set, the
// build tree's compiled catalogues when the executable runs from the build tree,
// <exe>/../share/locale when it holds the catalogues (an installed or unpacked tree), else the
// configured install location.
std::string localeDirectory();

// Binds the text domain to localeDirectory() in UTF-8 and makes it the process's default
// domain. Called once at start; GTK's initialisation takes the user's locale (setlocale).
void bindCatalogue();

}  // namespace wd::i18n

#pragma once
// Native texts through gettext. _("…") marks a text for translation (xgettext reads the
// keyword) and looks it up in the application's catalogue, the text domain
// "wendrel-desktop"; N_("…") only marks it. Texts the page exchanges with the application
// (event names, setting keys, data of events) never go through here.
#ifndef GETTEXT_PACKAGE
#define GETTEXT_PACKAGE "wendrel-desktop"
#endif
#include <glib/gi18n-lib.h>

#pragma once
// GtkBuilder layouts of the resource directory's ui/ folder, and the label texts in them that
// serve as formats with one "%@" placeholder (a version or release name filled in when loaded).
#include <gtk/gtk.h>

#include <string>
#include <string_view>

#include "core/GLibPtr.h"

namespace wd {

// The layout `name` (ui/<name>.ui), read with readRegularFile, its translatable texts in the
// user's language and its fields named by their labels; none when the file is missing,
// unreadable or not a valid layout (logged at info with the reason).
GObjectRef<GtkBuilder> loadLayout(const std::string& name);

// Gives every field that a label of `builder` names (mnemonic-widget) and that has no
// accessible name of its own the label's text, without the access key and the closing colon:
// screen readers say "User name" for the field, not just its role.
void nameFieldsByTheirLabels(GtkBuilder* builder);

// `format` with its first "%@" replaced by `value`; text without a placeholder is kept as it is
// and later "%@" are left alone, so a damaged layout text never reads past its argument.
std::string fillPlaceholder(std::string_view format, std::string_view value);

}  // namespace wd

#include "shell/preferences/PaneLayout.h"

#include "shell/window/Layout.h"

namespace wd {

PaneLayout::PaneLayout(const std::string& name) : builder_(loadLayout(name)) {
  loaded_ = bool(builder_);
  // A missing or damaged layout (logged by loadLayout) leaves an empty builder.
  if (!builder_) builder_.reset(gtk_builder_new());
}

GObject* PaneLayout::object(const char* id, GType type) const {
  GObject* object = gtk_builder_get_object(builder_.get(), id);
  return object && G_TYPE_CHECK_INSTANCE_TYPE(object, type) ? object : nullptr;
}

}  // namespace wd

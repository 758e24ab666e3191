#include "shell/preferences/PaneLayout.h"

#include "core/Bundle.h"
#include "core/Log.h"
#include "core/SafeFileReader.h"

namespace wd {

PaneLayout::PaneLayout(const std::string& name) : builder_(gtk_builder_new()) {
  auto path = Bundle::main().pathForResource(name, "ui", "ui");
  if (!path) {
    WD_LOG_INFO("The layout {} is missing", name);
    return;
  }
  // A layout is a few kilobytes; the cap only keeps a damaged resource from filling memory.
  const auto text = readRegularFile(*path, 4u * 1024u * 1024u);
  GError* error = nullptr;
  if (!text.data || !gtk_builder_add_from_string(builder_.get(), text.data->data(),
                                                 static_cast<gssize>(text.data->size()), &error)) {
    WD_LOG_INFO("The layout {} cannot be read: {}", *path,
                !text.data ? text.error : std::string(error ? error->message : "unknown error"));
    g_clear_error(&error);
    builder_.reset(gtk_builder_new());
    return;
  }
  loaded_ = true;
}

GObject* PaneLayout::object(const char* id, GType type) const {
  GObject* object = gtk_builder_get_object(builder_.get(), id);
  return object && G_TYPE_CHECK_INSTANCE_TYPE(object, type) ? object : nullptr;
}

}  // namespace wd

#include "shell/window/Layout.h"

#include "core/Bundle.h"
#include "core/Log.h"
#include "core/SafeFileReader.h"

namespace wd {

GObjectRef<GtkBuilder> loadLayout(const std::string& name) {
  const auto path = Bundle::main().pathForResource(name, "ui", "ui");
  if (!path) {
    WD_LOG_INFO("The layout {} is missing from the resources", name);
    return nullptr;
  }
  // A layout is a few kilobytes; the cap only keeps a damaged resource from filling memory.
  const auto text = readRegularFile(*path, 4u * 1024u * 1024u);
  GObjectRef<GtkBuilder> builder(gtk_builder_new());
  GError* error = nullptr;
  if (!text.data || !gtk_builder_add_from_string(builder.get(), text.data->data(),
                                                 static_cast<gssize>(text.data->size()), &error)) {
    WD_LOG_INFO("The layout {} cannot be read: {}", *path,
                !text.data ? text.error : std::string(error ? error->message : "unknown error"));
    g_clear_error(&error);
    return nullptr;
  }
  return builder;
}

std::string fillPlaceholder(std::string_view format, std::string_view value) {
  std::string out(format);
  if (const auto at = out.find("%@"); at != std::string::npos) out.replace(at, 2, value);
  return out;
}

}  // namespace wd

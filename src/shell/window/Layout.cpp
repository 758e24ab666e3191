#include "shell/window/Layout.h"

#include "core/Bundle.h"
#include "core/I18n.h"
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
  gtk_builder_set_translation_domain(builder.get(), GETTEXT_PACKAGE);
  GError* error = nullptr;
  if (!text.data || !gtk_builder_add_from_string(builder.get(), text.data->data(),
                                                 static_cast<gssize>(text.data->size()), &error)) {
    WD_LOG_INFO("The layout {} cannot be read: {}", *path,
                !text.data ? text.error : std::string(error ? error->message : "unknown error"));
    g_clear_error(&error);
    return nullptr;
  }
  nameFieldsByTheirLabels(builder.get());
  return builder;
}

void nameFieldsByTheirLabels(GtkBuilder* builder) {
  GSList* objects = gtk_builder_get_objects(builder);
  for (GSList* o = objects; o; o = o->next) {
    if (!GTK_IS_LABEL(o->data)) continue;
    GtkWidget* field = gtk_label_get_mnemonic_widget(GTK_LABEL(o->data));
    AtkObject* accessible = field ? gtk_widget_get_accessible(field) : nullptr;
    if (!accessible) continue;
    const char* given = atk_object_get_name(accessible);
    if (given && *given) continue;
    // The label as read, without its access key's underline and the colon that ends it.
    std::string name = gtk_label_get_text(GTK_LABEL(o->data));
    while (!name.empty() && (name.back() == ':' || g_ascii_isspace(name.back()) ||
                             g_str_has_suffix(name.c_str(), "\u00a0")))
      name.erase(g_str_has_suffix(name.c_str(), "\u00a0") ? name.size() - 2 : name.size() - 1);
    atk_object_set_name(accessible, name.c_str());
  }
  g_slist_free(objects);
}

std::string fillPlaceholder(std::string_view format, std::string_view value) {
  std::string out(format);
  if (const auto at = out.find("%@"); at != std::string::npos) out.replace(at, 2, value);
  return out;
}

}  // namespace wd

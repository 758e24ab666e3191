// The page's file choosers on GtkFileChooserNative: options read from the page's object, the
// dialog owned by itself from show until the user answers, the answer handed to the page's
// callback. Without a portal GTK shows its own file chooser dialog.
#include "shell/commands/Dialog.h"

#include <gtk/gtk.h>

#include <string>
#include <utility>

#include "bridge/Exports.h"
#include "core/GLibPtr.h"
#include "core/I18n.h"
#include "core/Log.h"
#include "shell/commands/ScriptConversions.h"
#include "shell/window/WebWindow.h"

namespace wd {

namespace {

// The native window a sheet is attached to: the web window of the object's window controller.
// This is the only place the object reaches its native window.
GtkWindow* sheetParent(const bridge::Command& command) {
  auto window = std::dynamic_pointer_cast<WebWindow>(command.windowController());
  return window ? window->gtkWindow() : nullptr;
}

// The page's text as valid UTF-8 for the toolkit (a lone surrogate or stray byte is replaced).
std::string validText(const std::string& text) {
  GCharPtr valid(g_utf8_make_valid(text.c_str(), static_cast<gssize>(text.size())));
  return valid.get();
}

// The option's string form when the page gave it (undefined counts as not given).
std::optional<std::string> textOption(const bridge::Dictionary& options, const char* key) {
  const bridge::Value& v = options.get(key);
  if (v.isUndefined()) return std::nullopt;
  auto text = script::toString(v);
  if (!text) return std::nullopt;
  return validText(*text);
}

// A label for a dialog button: the page's text shown as it is (no mnemonic underscores).
std::string buttonLabel(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '_') out += '_';
  }
  return out;
}

// A file name pattern matching the extension in either case ("txt" gives "*.[tT][xX][tT]").
std::string extensionPattern(std::string extension) {
  if (!extension.empty() && extension.front() == '.') extension.erase(0, 1);
  std::string pattern = "*.";
  for (unsigned char c : extension) {
    if (g_ascii_isalpha(c)) {
      pattern += '[';
      pattern += static_cast<char>(g_ascii_tolower(c));
      pattern += static_cast<char>(g_ascii_toupper(c));
      pattern += ']';
    } else if (c == '*' || c == '?' || c == '[' || c == ']' || c == '\\') {
      pattern += '[';
      pattern += static_cast<char>(c);
      pattern += ']';
    } else {
      pattern += static_cast<char>(c);
    }
  }
  return pattern;
}

// One dialog on screen with what its answer needs. Owned by itself (through the response
// handler's data) from show until the response.
struct Chooser {
  GObjectRef<GtkFileChooserNative> native;
  bridge::ScriptValue callback;
  std::shared_ptr<int> shown = std::make_shared<int>(0);
  bool save = false;
  gulong handler = 0;
};

std::string pathOf(GFile* file) {
  GCharPtr path(g_file_get_path(file));
  return path ? std::string(path.get()) : std::string();
}

void onResponse(GtkNativeDialog* dialog, gint response, gpointer data) {
  std::unique_ptr<Chooser> chooser(static_cast<Chooser*>(data));
  g_signal_handler_disconnect(dialog, chooser->handler);
  if (response != GTK_RESPONSE_ACCEPT) return;
  GtkFileChooser* fc = GTK_FILE_CHOOSER(dialog);
  if (!chooser->save) {
    bridge::ValueArray paths;
    GSList* files = gtk_file_chooser_get_files(fc);
    for (GSList* l = files; l; l = l->next) {
      std::string path = pathOf(G_FILE(l->data));
      if (!path.empty()) paths.emplace_back(std::move(path));
    }
    g_slist_free_full(files, g_object_unref);
    chooser->callback.call({bridge::Value(std::move(paths))});
    return;
  }
  GObjectRef<GFile> file(gtk_file_chooser_get_file(fc));
  std::string path = file ? pathOf(file.get()) : std::string();
  if (path.empty()) {
    WD_LOG_INFO("Save dialog: the chosen location has no local path; nothing reported");
    return;
  }
  GObjectRef<GFile> parent(g_file_get_parent(file.get()));
  GCharPtr name(g_file_get_basename(file.get()));
  bridge::Dictionary result{{"directory", parent ? pathOf(parent.get()) : std::string("/")},
                            {"filePath", path},
                            {"filename", std::string(name ? name.get() : "")}};
  chooser->callback.call({bridge::Value(std::move(result))});
}

// Shows the chooser and hands its ownership to the response handler.
void show(std::unique_ptr<Chooser> chooser) {
  GtkNativeDialog* dialog = GTK_NATIVE_DIALOG(chooser->native.get());
  Chooser* raw = chooser.release();
  raw->handler = g_signal_connect(dialog, "response", G_CALLBACK(onResponse), raw);
  gtk_native_dialog_show(dialog);
}

bool canShowDialogs() {
  if (gdk_display_get_default()) return true;
  WD_LOG_INFO("Dialog: no display; the dialog is not shown");
  return false;
}

}  // namespace

Dialog::Dialog(std::weak_ptr<bridge::WindowHandle> window) : bridge::Command(std::move(window)) {}

Dialog::~Dialog() = default;

const bridge::ClassInfo& Dialog::scriptClass() const {
  return exports();
}

const bridge::ClassInfo& Dialog::exports() {
  static const bridge::ClassInfo& info =
      bridge::ClassBuilder<Dialog>("Dialog")
          .summary(
              "File choosers: open (files or folders) and save; the callback gets the choice, a "
              "cancel calls nothing.")
          .method("openDialog:", &Dialog::openDialog)
          .doc({.summary = "Lets the user pick files, or folders with only \"directories\".",
                .params = {"options: { files?: boolean; directories?: boolean; multiple?: boolean; "
                           "callback?: (paths: string[]) => void }"},
                .refused = "nothing is shown"})
          .method("saveDialog:", &Dialog::saveDialog)
          .doc({.summary = "Asks where to save, as a sheet on the window (\"directory\" is a file "
                           "URL, \"allowedTypes\" file name extensions).",
                .params = {"options: { title?: string; prompt?: string; message?: string; "
                           "filename?: string; directory?: string; createDirs?: boolean; "
                           "allowedTypes?: string[]; callback?: (result: { directory: string; "
                           "filePath: string; filename: string }) => void }"},
                .refused = "nothing is shown"})
          .build();
  return info;
}

void Dialog::openDialog(std::optional<bridge::Dictionary> options) {
  if (!options || !shown_.expired() || !canShowDialogs()) return;
  const bool files = script::toBoolean(options->get("files"));
  const bool directories = script::toBoolean(options->get("directories"));
  const bool multiple = script::toBoolean(options->get("multiple"));
  const auto action =
      directories && !files ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER : GTK_FILE_CHOOSER_ACTION_OPEN;

  auto chooser = std::make_unique<Chooser>();
  chooser->native.reset(
      gtk_file_chooser_native_new(directories && !files ? _("Choose a Folder") : _("Open File"),
                                  nullptr, action, _("_Open"), _("_Cancel")));
  chooser->callback = options->get("callback").asScript();
  gtk_file_chooser_set_select_multiple(GTK_FILE_CHOOSER(chooser->native.get()), multiple);
  gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(chooser->native.get()), TRUE);
  shown_ = chooser->shown;
  show(std::move(chooser));
}

// Each option the page gives sets one thing; the others stay as the toolkit has them:
//   "title"        the dialog's title
//   "prompt"       the label of the accept button
//   "message"      no place of its own in a file chooser: it becomes the title, or follows the
//                  title after a dash
//   "filename"     the initial name
//   "directory"    a file URL: the folder the dialog opens in (anything else is ignored)
//   "createDirs"   whether the user may create folders
//   "allowedTypes" file name extensions ("txt" or ".txt", either case): a filter of them
// Replacing an existing file asks the user first.
void Dialog::saveDialog(std::optional<bridge::Dictionary> options) {
  if (!options || !shown_.expired() || !canShowDialogs()) return;
  auto title = textOption(*options, "title");
  const auto message = textOption(*options, "message");
  if (message) title = title ? *title + " \u2014 " + *message : *message;
  const auto prompt = textOption(*options, "prompt");

  auto chooser = std::make_unique<Chooser>();
  chooser->save = true;
  chooser->native.reset(gtk_file_chooser_native_new(
      title ? title->c_str() : _("Save File"), sheetParent(*this), GTK_FILE_CHOOSER_ACTION_SAVE,
      prompt ? buttonLabel(*prompt).c_str() : _("_Save"), _("_Cancel")));
  chooser->callback = options->get("callback").asScript();
  GtkFileChooser* fc = GTK_FILE_CHOOSER(chooser->native.get());
  gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser->native.get()), TRUE);
  gtk_file_chooser_set_local_only(fc, TRUE);
  gtk_file_chooser_set_do_overwrite_confirmation(fc, TRUE);

  if (auto name = textOption(*options, "filename"))
    gtk_file_chooser_set_current_name(fc, name->c_str());
  if (auto url = textOption(*options, "directory")) {
    GCharPtr folder(g_filename_from_uri(url->c_str(), nullptr, nullptr));
    if (folder)
      gtk_file_chooser_set_current_folder(fc, folder.get());
    else
      WD_LOG_INFO("Save dialog: \"directory\" is not a file URL; ignored");
  }
  if (const bridge::Value& create = options->get("createDirs"); !create.isUndefined())
    gtk_file_chooser_set_create_folders(fc, script::toBoolean(create));
  if (const bridge::ValueArray* types = options->get("allowedTypes").asArray()) {
    GtkFileFilter* filter = gtk_file_filter_new();  // floating: the chooser takes it
    std::string name;
    for (const auto& type : *types) {
      const std::string* text = type.asString();
      if (!text || text->empty() || text->find('\0') != std::string::npos) continue;
      const std::string extension = validText(*text);
      gtk_file_filter_add_pattern(filter, extensionPattern(extension).c_str());
      name += (name.empty() ? "" : ", ") + extension;
    }
    if (name.empty()) {
      g_object_ref_sink(filter);
      g_object_unref(filter);
    } else {
      gtk_file_filter_set_name(filter, name.c_str());
      gtk_file_chooser_add_filter(fc, filter);
      gtk_file_chooser_set_filter(fc, filter);
    }
  }
  shown_ = chooser->shown;
  show(std::move(chooser));
}

}  // namespace wd

#include "shell/app/MainWindowController.h"

#include <glib.h>

#include "core/Log.h"

namespace wd {

namespace {
// `name` as valid UTF-8 for the page: a file name in another encoding is shown as the desktop
// shows it (bytes that are not UTF-8 replaced).
std::string displayName(const std::string& name) {
  if (g_utf8_validate(name.data(), static_cast<gssize>(name.size()), nullptr)) return name;
  gchar* valid = g_utf8_make_valid(name.data(), static_cast<gssize>(name.size()));
  std::string out = valid;
  g_free(valid);
  return out;
}
// True when every character of `text` may stand in a URI (letters, digits, the unreserved and
// reserved marks, and %XX escapes other than %00): spaces, quotes, angle brackets, controls
// and bytes outside ASCII may not.
bool hasOnlyURICharacters(std::string_view text) {
  static constexpr std::string_view kMarks = "-._~:/?#[]@!$&'()*+,;=";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (g_ascii_isalnum(c) || kMarks.find(c) != std::string_view::npos) continue;
    if (c == '%' && i + 2 < text.size() && g_ascii_isxdigit(text[i + 1]) &&
        g_ascii_isxdigit(text[i + 2]) && !(text[i + 1] == '0' && text[i + 2] == '0')) {
      i += 2;
      continue;
    }
    return false;
  }
  return true;
}

}  // namespace

MainWindowController::MainWindowController(std::shared_ptr<WebWindow> window)
    : window_(std::move(window)) {}

bridge::EventSource MainWindowController::pageEventSource() {
  return {
      "Events of the main window",
      "Raised on the main window's `document` from the application's menus, its command line "
      "and its windows; held until the page calls `MacGap.DesktopCommand.publishAppReady()` "
      "(one per name: a later one replaces an earlier one).",
      {{"newEmailRequest", "{ url: string }",
        "A mailto: link was given to the application: its text after \"mailto:\"."},
       {"shareFileRequest", "{ files: string[] }", "Files were given to the application."},
       {"messageAction", "{ action: string }",
        "An item of the Message menu (Reply, Forward, …): its title."},
       {"gotoModule", "{ module: string }", "An item of the Go menu (Mail, …): its title."},
       {"newItem", "{ item: string }", "A \"New\" item of the File menu: its title."},
       {"fulltextSearch", "null", "The Search menu item."},
       {"showFeedback", "null", "Send Feedback (the Help menu item or the About window's button)."},
       {"setWebAssist", "{ enabled: \"true\" | \"false\" }",
        "The About window's web assistance check button changed."},
       {"setOutOfOffice", "{ enabled: \"true\" | \"false\" }",
        "The Out of Office menu item: the state it asks for."}}};
}

void MainWindowController::postNotification(const std::string& name,
                                            const std::optional<Json>& data) {
  if (window_) window_->pageEvents().post(name, data);
}

std::optional<std::string> MainWindowController::mailtoResourceSpecifier(
    const std::string& urlText) {
  static constexpr std::string_view kScheme = "mailto:";
  if (urlText.compare(0, kScheme.size(), kScheme) != 0) return std::nullopt;
  if (!hasOnlyURICharacters(urlText)) return std::nullopt;
  if (!g_uri_is_valid(urlText.c_str(), G_URI_FLAGS_NONE, nullptr)) return std::nullopt;
  return urlText.substr(kScheme.size());
}

void MainWindowController::handleMailtoEvent(const std::string& urlText) {
  auto specifier = mailtoResourceSpecifier(urlText);
  if (!specifier) {
    WD_LOG_INFO("Ignored a URL given to the application that is not a valid mailto: URL ({} bytes)",
                urlText.size());
    return;
  }
  postNotification("newEmailRequest", Json{{"url", displayName(*specifier)}});
}

void MainWindowController::handleFilesEvent(const std::vector<std::string>& files) {
  if (files.empty()) return;
  Json list = Json::array();
  for (const auto& f : files) list.push_back(displayName(f));
  postNotification("shareFileRequest", Json{{"files", std::move(list)}});
}

void MainWindowController::handleMessageAction(const std::string& action) {
  postNotification("messageAction", Json{{"action", action}});
}

void MainWindowController::handleGotoModule(const std::string& module) {
  postNotification("gotoModule", Json{{"module", module}});
}

void MainWindowController::handleNewItem(const std::string& item) {
  postNotification("newItem", Json{{"item", item}});
}

void MainWindowController::handleFulltextSearch() {
  postNotification("fulltextSearch", {});
}

void MainWindowController::handleShowFeedback() {
  postNotification("showFeedback", {});
}

void MainWindowController::handleWebAssist(const std::string& enabled) {
  postNotification("setWebAssist", Json{{"enabled", enabled}});
}

void MainWindowController::handleOutOfOffice(const std::string& enabled) {
  postNotification("setOutOfOffice", Json{{"enabled", enabled}});
}

}  // namespace wd

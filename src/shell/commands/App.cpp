#include "shell/commands/App.h"

#include <glib.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <filesystem>

#include "bridge/Exports.h"
#include "core/Bundle.h"
#include "core/Log.h"
#include "shell/ShellContext.h"
#include "shell/app/ApplicationControl.h"
#include "shell/commands/NotificationPosting.h"
#include "shell/notifications/NotificationService.h"
#include "shell/system/IdleTime.h"
#include "shell/system/SystemEvents.h"
#include "shell/system/Workspace.h"
#include "shell/window/WebWindow.h"

namespace wd {

namespace {

std::string executablePath() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.string();
}

std::string documentsDirectory() {
  if (const char* dir = g_get_user_special_dir(G_USER_DIRECTORY_DOCUMENTS)) return dir;
  return (std::filesystem::path(g_get_home_dir()) / "Documents").string();
}

// The user's data directory, read from the environment each time (XDG_DATA_HOME).
std::string libraryDirectory() {
  if (const char* v = g_getenv("XDG_DATA_HOME"); v && g_path_is_absolute(v)) return v;
  return (std::filesystem::path(g_get_home_dir()) / ".local" / "share").string();
}

std::string homeDirectory() {
  if (const char* v = g_getenv("HOME"); v && *v) return v;
  return g_get_home_dir();
}

}  // namespace

App::App(std::weak_ptr<WebWindow> window, ShellContext& context,
         std::weak_ptr<WebWindow> sheetWindow)
    : bridge::Command(std::weak_ptr<bridge::WindowHandle>(window)),
      context_(context),
      window_(std::move(window)),
      sheetWindow_(std::move(sheetWindow)),
      applicationPath_(executablePath()),
      resourcePath_(Bundle::main().resourcePath().string()),
      documentsPath_(documentsDirectory()),
      libraryPath_(libraryDirectory()),
      homePath_(homeDirectory()),
      tempPath_(g_get_tmp_dir()) {
  records_.reserve(2);
  auto& center = context_.center();
  observations_.push_back(center.addObserver(
      SystemEvents::kWillSleep, [this](const Notification&) { raise("sleep", Json::object()); }));
  observations_.push_back(center.addObserver(
      SystemEvents::kDidWake, [this](const Notification&) { raise("wake", Json::object()); }));
  observations_.push_back(
      center.addObserver(SystemEvents::kDidActivateApplication, [this](const Notification& n) {
        if (n.object.is_object()) raise("appActivated", n.object);
      }));
}

App::~App() = default;

const bridge::ClassInfo& App::scriptClass() const {
  return exports();
}

const bridge::ClassInfo& App::exports() {
  static const bridge::ClassInfo& info =
      bridge::ClassBuilder<App>("App")
          .summary(
              "The application: its windows, paths, notifications, user agent, and the events of "
              "the desktop session.")
          .event({"sleep", "{}", "The computer is about to sleep."})
          .event({"wake", "{}", "The computer woke up."})
          .event({"appActivated", "{ localizedName: string; bundleURL: string }",
                  "An application (this one included) became the active one on the desktop."})
          .method("terminate", &App::terminate)
          .doc({.summary = "Quits the application."})
          .method("activate", &App::activate)
          .doc({.summary = "Brings the application to the front."})
          .method("hide", &App::hide)
          .doc({.summary = "Hides the application's windows."})
          .method("unhide", &App::unhide)
          .doc({.summary = "Shows the application's hidden windows again."})
          .method("beep", &App::beep)
          .doc({.summary = "Plays the desktop's alert sound."})
          .method("bounce", &App::bounce)
          .doc({.summary = "Asks for the user's attention briefly (the window's urgency hint)."})
          .method("notify:", &App::notify)
          .doc({.summary = "Posts a desktop notification, or with type \"sheet\" shows an alert on "
                           "the main window; it joins `notifications`.",
                .params =
                    {"options: { type?: \"sheet\" | string; id?: string | number; title?: string; "
                     "content?: string; subtitle?: string; sound?: boolean | string }"},
                .refused = "nothing is posted without options; a missing id becomes a new UUID"})
          .method("closeNotification:", &App::closeNotification)
          .doc({.summary = "Withdraws the delivered notifications posted with this id (\"*\": all "
                           "of them) and drops them from `notifications`.",
                .params = {"id"},
                .refused = "nothing happens"})
          .method("setCustomUserAgent:__JS_EXPORT_AS__setUserAgent:", &App::setCustomUserAgent)
          .doc({.summary = "Sets this window's User-Agent header.",
                .params = {"agent"},
                .refused = "text that is not a header value (control characters, non-ASCII, empty) "
                           "restores the default agent"})
          .method("openURL:", &App::openURL)
          .doc({.summary = "Opens the URL in the user's default application for it.",
                .params = {"url"},
                .refused = "nothing happens"})
          .method("launch:", &App::launch)
          .doc({.summary = "Starts the named application (a desktop entry or a program).",
                .params = {"name"},
                .refused = "nothing happens"})
          .property("applicationPath", &App::applicationPath)
          .doc({.summary = "The application's executable.", .result = "string"})
          .property("resourcePath", &App::resourcePath)
          .doc({.summary = "The application's resource folder.", .result = "string"})
          .property("documentsPath", &App::documentsPath)
          .doc({.summary = "The user's documents folder.", .result = "string"})
          .property("libraryPath", &App::libraryPath)
          .doc({.summary = "The user's data folder for applications.", .result = "string"})
          .property("homePath", &App::homePath)
          .doc({.summary = "The user's home folder.", .result = "string"})
          .property("tempPath", &App::tempPath)
          .doc({.summary = "The temporary folder.", .result = "string"})
          .property("droppedFiles", &App::droppedFiles)
          .doc({.summary =
                    "The paths of the files last dropped on the page; undefined before any drop.",
                .result = "string[] | undefined"})
          .property("notifications", &App::notifications)
          .doc({.summary =
                    "The notifications posted by this object and not withdrawn, oldest first.",
                .result = "{ id: string; title?: string; sentOn: Date }[]"})
          .property("idleTime", &App::idleTime)
          .doc({.summary = "Seconds since the user's last input; undefined where the display "
                           "server does not tell.",
                .result = "number | undefined"})
          .build();
  return info;
}

void App::raise(const std::string& event, const Json& data) {
  if (auto window = window_.lock()) window->pageEvents().raise(event, data);
}

void App::terminate() {
  context_.application().terminate();
}
void App::activate() {
  context_.application().activate();
}
void App::hide() {
  context_.application().hide();
}
void App::unhide() {
  context_.application().unhide();
}
void App::beep() {
  context_.application().beep();
}
void App::bounce() {
  context_.application().requestUserAttention();
}

bool App::truthValue(const bridge::Value& v) {
  return notifications::truthValue(v);
}

std::string App::makeUUID() {
  return notifications::makeUUID();
}

void App::notify(std::optional<bridge::Dictionary> options) {
  auto sheetWindow = sheetWindow_.lock();
  auto posted = notifications::post(options, context_.notifications(),
                                    sheetWindow ? sheetWindow->gtkWindow() : nullptr);
  if (posted) records_.push_back({posted->id, posted->title, std::chrono::system_clock::now()});
}

bool App::isValidUserAgent(const std::string& agent) {
  // The header's grammar, which the engine checks too (it refuses other values with a
  // critical): product *( RWS ( product / comment ) ), product = token ["/" token],
  // comment = "(" *( ctext / quoted-pair / comment ) ")", ASCII only.
  static constexpr std::string_view kTokenMarks = "!#$%&'*+-.^_`|~";
  auto tchar = [](char c) {
    return g_ascii_isalnum(c) || kTokenMarks.find(c) != std::string_view::npos;
  };
  auto space = [](char c) { return c == ' ' || c == '\t'; };
  std::size_t i = 0;
  const std::size_t n = agent.size();
  auto token = [&] {
    const std::size_t start = i;
    while (i < n && tchar(agent[i])) ++i;
    return i > start;
  };
  auto product = [&] { return token() && (i == n || agent[i] != '/' || (++i, token())); };
  auto comment = [&] {
    int depth = 0;
    do {
      const char c = agent[i++];
      if (c == '(') {
        ++depth;
      } else if (c == ')') {
        --depth;
      } else if (c == '\\') {
        if (i == n || !(space(agent[i]) || (agent[i] > 0x20 && agent[i] < 0x7f))) return false;
        ++i;
      } else if (!space(c) && !(c > 0x20 && c < 0x7f)) {
        return false;
      }
    } while (depth > 0 && i < n);
    return depth == 0;
  };
  if (!product()) return false;
  while (i < n) {
    const std::size_t before = i;
    while (i < n && space(agent[i])) ++i;
    if (i == before || i == n) return false;
    if (agent[i] == '(' ? !comment() : !product()) return false;
  }
  return true;
}

void App::closeNotification(std::optional<std::string> id) {
  if (!id) return;
  // One record leaves the list for each notification withdrawn by its id.
  for (std::size_t n = notifications::withdraw(context_.notifications(), *id); n > 0; --n) {
    auto r = std::find_if(records_.begin(), records_.end(), [&](const Record& record) {
      const std::string* recordId = record.id.asString();
      return recordId && *recordId == *id;
    });
    if (r == records_.end()) break;
    records_.erase(r);
  }
}

void App::setCustomUserAgent(std::optional<std::string> agent) {
  auto window = windowController();
  WebKitWebView* view = window ? window->webKitWebView() : nullptr;
  if (!view) return;
  WebKitSettings* settings = webkit_web_view_get_settings(view);
  if (agent && isValidUserAgent(*agent)) {
    webkit_settings_set_user_agent(settings, agent->c_str());
  } else {
    if (agent && !agent->empty())
      WD_LOG_INFO("User agent refused (not a header value); the default agent is used");
    webkit_settings_set_user_agent_with_application_details(settings, "TovikWendrelDesktop",
                                                            Bundle::main().version().c_str());
  }
}

void App::openURL(std::optional<std::string> url) {
  if (url) context_.workspace().openURL(*url);
}

void App::launch(std::optional<std::string> name) {
  if (name) context_.workspace().launchApplication(*name);
}

bridge::Value App::droppedFiles() const {
  if (!droppedFiles_) return {};
  bridge::ValueArray out;
  for (const auto& p : *droppedFiles_) out.emplace_back(p);
  return bridge::Value(std::move(out));
}

bridge::Value App::notifications() const {
  bridge::ValueArray out;
  for (const auto& r : records_) {
    bridge::Dictionary d;
    d.set("id", r.id);
    if (r.title) d.set("title", *r.title);
    d.set("sentOn", r.sentOn);  // a Date in the page
    out.emplace_back(std::move(d));
  }
  return bridge::Value(std::move(out));
}

void App::addFiles(std::vector<std::string> paths) {
  droppedFiles_ = std::move(paths);
}

std::optional<double> App::systemIdleTime() {
  return idle::secondsSinceLastInput();
}

bridge::Value App::idleTime() const {
  if (auto seconds = systemIdleTime()) return bridge::Value(*seconds);
  return {};
}

}  // namespace wd

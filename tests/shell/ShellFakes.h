#pragma once
// Doubles of the shell's platform interfaces for tests without windows, recording what they are
// asked; a web window's page is the headless JavaScriptCore harness.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "bridge/BridgeHost.h"
#include "bridge/ScriptObjectRegistry.h"
#include "bridge/testing/JscHarness.h"
#include "core/NotificationCenter.h"
#include "core/UserDefaults.h"
#include "shell/ShellContext.h"
#include "shell/app/AppDelegate.h"
#include "shell/app/ApplicationControl.h"
#include "shell/media/TextClipboard.h"
#include "shell/notifications/NotificationService.h"
#include "shell/system/Workspace.h"
#include "shell/window/WebWindow.h"

namespace wd::test {

class FakeWindow : public WebWindow {
 public:
  explicit FakeWindow(std::string pageUrl = {}) : url(std::move(pageUrl)) {
    // Every page of the harness logs the events it receives into window.log.
    page.evaluate(kLogScript);
  }
  static constexpr const char* kLogScript = R"(
    window.log = [];
    ['newEmailRequest','shareFileRequest','messageAction','gotoModule','newItem',
     'fulltextSearch','showFeedback','setWebAssist','setOutOfOffice','sleep','wake',
     'appActivated'].forEach(function (n) {
      document.addEventListener(n, function (e) { window.log.push({name: n, data: e.data}); });
    });)";

  bridge::ScriptPage* scriptPage() override { return &page; }
  GtkWindow* gtkWindow() override { return nullptr; }
  void showWindow() override { visible = true; }
  void makeKeyAndOrderFront() override {
    visible = true;
    ++fronts;
  }
  bool isVisible() const override { return visible; }
  void setWindowParams() override { ++params; }
  void printContent() override {}
  void performClose() override { ++closes; }

  Json log() { return page.evaluate("window.log").value_or(Json()); }

  bridge::testing::JscHarness page;
  std::string url;
  bool visible = false;
  int fronts = 0, params = 0, closes = 0;
};

class FakeWindowFactory : public WindowFactory {
 public:
  std::shared_ptr<WebWindow> makeMainWindow(const std::string& resourcePath, WindowHost&) override {
    return main = std::make_shared<FakeWindow>(resourcePath);
  }
  std::shared_ptr<WebWindow> makeWindow(const std::string& url, WindowHost&) override {
    auto w = std::make_shared<FakeWindow>(url);
    made.push_back(w);
    return w;
  }
  std::shared_ptr<FakeWindow> main;
  std::vector<std::weak_ptr<FakeWindow>> made;
};

class FakeNotificationService : public NotificationService {
 public:
  std::uint64_t deliver(UserNotification n) override {
    n.key = next++;
    delivered.push_back(n);
    posted.push_back(n);
    return n.key;
  }
  std::vector<UserNotification> deliveredNotifications() const override { return delivered; }
  void removeDeliveredNotification(std::uint64_t key) override {
    std::erase_if(delivered, [key](const UserNotification& n) { return n.key == key; });
  }
  // The user clicks the delivered notification with this key.
  void click(std::uint64_t key) {
    auto it = std::ranges::find(delivered, key, &UserNotification::key);
    if (it != delivered.end()) activated(*it);
  }
  std::vector<UserNotification> delivered, posted;
  std::uint64_t next = 1;
};

class FakeApplicationControl : public ApplicationControl {
 public:
  void terminate() override { calls.push_back("terminate"); }
  void activate() override { calls.push_back("activate"); }
  void hide() override { calls.push_back("hide"); }
  void unhide() override { calls.push_back("unhide"); }
  void beep() override { calls.push_back("beep"); }
  void requestUserAttention() override { calls.push_back("requestUserAttention"); }
  bool hasVisibleWindows() const override { return false; }
  std::vector<std::string> calls;
};

class FakeWorkspace : public Workspace {
 public:
  bool openURL(const std::string& url) override { return record(opened, url); }
  bool openFile(const std::string& path) override { return record(files, path); }
  bool launchApplication(const std::string& name) override { return record(launched, name); }
  std::vector<std::string> opened, files, launched;

 private:
  static bool record(std::vector<std::string>& to, const std::string& what) {
    to.push_back(what);
    return true;
  }
};

// A clipboard in memory, for tests without a display.
class MemoryClipboard : public TextClipboard {
 public:
  void copy(std::string_view t) override { text = std::string(t); }
  std::string paste() const override { return text; }
  std::string text;
};

// A shell context over doubles: recording application control, notifications and workspace,
// the process's settings store (each test process has its own), and its own notification
// centre, class registry and bridge host.
struct FakeShell {
  std::shared_ptr<FakeApplicationControl> controlPtr = std::make_shared<FakeApplicationControl>();
  std::shared_ptr<FakeNotificationService> notificationsPtr =
      std::make_shared<FakeNotificationService>();
  std::shared_ptr<FakeWorkspace> workspacePtr = std::make_shared<FakeWorkspace>();
  NotificationCenter center;
  ShellContext context{ShellContext::Services{.application = controlPtr,
                                              .notifications = notificationsPtr,
                                              .workspace = workspacePtr,
                                              .defaults = &UserDefaults::standard(),
                                              .center = &center,
                                              .clipboard = std::make_shared<MemoryClipboard>()}};
  FakeApplicationControl& control = *controlPtr;
  FakeNotificationService& notifications = *notificationsPtr;
  FakeWorkspace& workspace = *workspacePtr;
};

// An application delegate over doubles, launched as the application does at start-up.
struct LaunchedApp : FakeShell {
  FakeWindowFactory windows;
  std::unique_ptr<AppDelegate> delegate = std::make_unique<AppDelegate>(context, windows);

  explicit LaunchedApp(bool launch = true) {
    if (launch) {
      delegate->applicationWillFinishLaunching();
      delegate->applicationDidFinishLaunching();
    }
  }
  FakeWindow& main() { return *windows.main; }
};

// An event as a harness page logs it into window.log.
inline Json event(const std::string& name, Json data) {
  return Json{{"name", name}, {"data", data}};
}

}  // namespace wd::test

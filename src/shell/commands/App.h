#pragma once
// The page's global MacGap object: application control (quit, activate, hide, beep, bounce),
// well-known paths, files dropped on the page, the user agent, opening URLs and launching
// applications, desktop notifications with the list of those posted, and the "sleep", "wake"
// and "appActivated" events.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "bridge/Command.h"
#include "bridge/Value.h"
#include "core/Json.h"
#include "core/NotificationCenter.h"
#include "shell/window/FileDropTarget.h"

namespace wd {

class ShellContext;
class WebWindow;

class App : public bridge::Command, public FileDropTarget {
 public:
  struct Record {
    bridge::Value id;  // the notification's id (a string in practice)
    std::optional<std::string> title;
    std::chrono::system_clock::time_point sentOn;
  };

  // `window`: the window whose page this object serves; `sheetWindow`: the window that
  // notifications of type "sheet" are shown on (the main window).
  App(std::weak_ptr<WebWindow> window, ShellContext& context, std::weak_ptr<WebWindow> sheetWindow);
  ~App() override;
  const bridge::ClassInfo& scriptClass() const override;
  // The exports table, reachable without an object (the page API generator reads it).
  static const bridge::ClassInfo& exports();

  // Script members.
  void terminate();
  void activate();
  void hide();
  void unhide();
  void beep();
  void bounce();
  void notify(std::optional<bridge::Dictionary> options);
  void closeNotification(std::optional<std::string> id);
  void setCustomUserAgent(std::optional<std::string> agent);
  void openURL(std::optional<std::string> url);
  void launch(std::optional<std::string> name);
  std::string applicationPath() const { return applicationPath_; }
  std::string resourcePath() const { return resourcePath_; }
  std::string documentsPath() const { return documentsPath_; }
  std::string libraryPath() const { return libraryPath_; }
  std::string homePath() const { return homePath_; }
  std::string tempPath() const { return tempPath_; }
  bridge::Value droppedFiles() const;
  bridge::Value notifications() const;
  // Seconds since the user's last input (undefined where the display server does not tell).
  bridge::Value idleTime() const;

  // Native callers.
  void addFiles(std::vector<std::string> paths) override;
  const std::vector<Record>& notificationRecords() const { return records_; }
  // Seconds since the last user input, when the display server tells (X11 screen-saver
  // extension; none otherwise). Costs one X round trip; nothing else in the application uses it.
  static std::optional<double> systemIdleTime();

  // The truth value of a notification option as the platform reads it (booleans, numbers,
  // strings starting with Y, y, T, t or a digit 1-9).
  static bool truthValue(const bridge::Value& v);
  // A fresh identifier: a UUID in upper-case canonical form (8-4-4-4-12).
  static std::string makeUUID();
  // True when `agent` is a User-Agent header value by the header's grammar (products and
  // comments separated by spaces, printable ASCII), the values the engine takes.
  static bool isValidUserAgent(const std::string& agent);

 private:
  void raise(const std::string& event, const Json& data);

  ShellContext& context_;
  std::weak_ptr<WebWindow> window_;
  std::weak_ptr<WebWindow> sheetWindow_;
  std::string applicationPath_, resourcePath_, documentsPath_, libraryPath_, homePath_, tempPath_;
  std::optional<std::vector<std::string>> droppedFiles_;
  std::vector<Record> records_;
  std::vector<NotificationCenter::Token> observations_;
};

}  // namespace wd

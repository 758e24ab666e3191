#pragma once
// Tests only: a headless page. A standalone JavaScriptCore context with a small DOM event shim
// (`document`, `window`, document.createEvent('Events'), initEvent, addEventListener,
// removeEventListener, dispatchEvent bubbling from document to window) driven by the same
// marshaller as the web process, over an in-process transport that carries the real wire
// encoding. Script objects are tested from real JavaScript without a display.
//
//   JscHarness page;
//   page.install({app, {{"Dock", dock}}});       // MacGap = app, MacGap.Dock = dock
//   page.evaluate("MacGap.Dock.badge")           // -> Json
//   Event::triggerEvent("sleep", &page);         // listeners run before the call returns
//   page.reload();                               // new context, installer called again
#include <memory>
#include <optional>
#include <string>

#include "bridge/Install.h"
#include "bridge/ScriptPage.h"
#include "core/Json.h"

namespace wd::bridge::testing {

class JscHarness : public ScriptPage {
 public:
  // A page with a fresh context and nothing installed.
  JscHarness();
  // A page whose every context (this one and each reload) is set up by `installer`, called
  // with `url`.
  explicit JscHarness(Installer installer, std::string url = "file:///harness/public/index.html");
  ~JscHarness() override;
  JscHarness(const JscHarness&) = delete;
  JscHarness& operator=(const JscHarness&) = delete;

  // Installs `set` into the current context now, and into every later one.
  void install(InstallSet set);
  void setInstaller(Installer installer);
  // Drops the current context (as a navigation does) and makes a new one, calling the installer.
  void reload();

  // Runs `script`; the result as JSON (JSON.stringify of it), none for undefined, functions
  // and when the script threw (see lastException).
  std::optional<Json> evaluate(const std::string& script);
  // The result converted to a string (String(result)); "" when the script threw.
  std::string evaluateToString(const std::string& script);
  // The message of the exception of the last evaluate/evaluateScript, if any.
  const std::optional<std::string>& lastException() const { return lastException_; }

  // ScriptPage: runs at once, or, while the page waits inside a call to native code, before
  // that call returns (as the real bridge does).
  void evaluateScript(const std::string& script) override;
  void callFunction(const std::string& name, std::vector<Value> args) override;

  // Runs the garbage collector and delivers the releases it caused to the native side.
  void collectGarbage();
  // Breaks the connection: later calls from the page answer undefined.
  void disconnect();
  // Number of native objects the page currently holds wrappers of, and page values held for
  // native code.
  std::size_t heldObjectCount() const;
  std::size_t heldHandleCount() const;

  // The same page as a shared pointer that does not own the harness (for objects that keep
  // their page, e.g. Command(std::shared_ptr<ScriptPage>)).
  std::shared_ptr<ScriptPage> sharedPage();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::optional<std::string> lastException_;
};

}  // namespace wd::bridge::testing

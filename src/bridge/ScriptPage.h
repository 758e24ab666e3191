#pragma once
// A page native code can script: the main frame of a real web view (through the web process
// extension) or the headless JavaScriptCore harness used by tests.
#include <memory>
#include <string>
#include <vector>

namespace wd::bridge {

class Value;

class ScriptPage {
 public:
  virtual ~ScriptPage() = default;

  // Runs `script` in the page's current main-frame context, ignoring its result and any
  // exception. Never waits on the web process: for a real web view the script is queued on the
  // bridge socket and runs in the page in order with other bridge traffic (also while the page
  // is blocked inside a call to native code, in which case it runs before that call returns).
  // Does nothing when the page is gone.
  virtual void evaluateScript(const std::string& script) = 0;

  // Calls the global function `name` of the page's current main-frame context with these
  // arguments (converted as results are), ignoring the result. Nothing when it is not a function.
  virtual void callFunction(const std::string& name, std::vector<Value> args) = 0;
};

// The page whose script is calling into native code right now (nullptr outside such a call).
ScriptPage* callingPage();

}  // namespace wd::bridge

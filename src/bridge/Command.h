#pragma once
// Base class of the script objects made for one window (every one but Window). It sees its
// window through WindowHandle, held weakly: once the window is gone, windowController() and
// webView() give nothing and the object's operations act on nothing.
#include <memory>
#include <string>

#include "bridge/ScriptObject.h"
#include "bridge/ScriptPage.h"

typedef struct _WebKitWebView WebKitWebView;

namespace wd::bridge {

// What a script object knows of its window: its page and web view. The shell's web windows
// implement it (adding what the shell needs of them) and are held by std::shared_ptr.
class WindowHandle {
 public:
  virtual ~WindowHandle() = default;
  // The window's page (its main frame), or nullptr.
  virtual ScriptPage* scriptPage() = 0;
  // The window's web view, when it has a real one.
  virtual WebKitWebView* webKitWebView() { return nullptr; }
};

class Command : public ScriptObject {
 public:
  // initWithWindowController: how configured script objects are made.
  explicit Command(std::weak_ptr<WindowHandle> windowController);
  // initWithContext: made for one page (menu wrappers); the page is owned.
  explicit Command(std::shared_ptr<ScriptPage> context);
  Command() = default;
  ~Command() override;

  // The class name, under which the object is installed on MacGap.
  std::string exportName() const { return scriptClass().name(); }

  std::shared_ptr<WindowHandle> windowController() const { return windowController_.lock(); }
  // The page of the window (or the page the object was made for), or nullptr.
  ScriptPage* webView() const;
  const std::shared_ptr<ScriptPage>& jsContext() const { return jsContext_; }

 private:
  std::weak_ptr<WindowHandle> windowController_;
  std::shared_ptr<ScriptPage> jsContext_;
};

}  // namespace wd::bridge

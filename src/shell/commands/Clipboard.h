#pragma once
// MacGap.Clipboard: the page copies text to the desktop clipboard and pastes the text it holds.
// `paste` answers at once from the application's clipboard service (TextClipboard), which keeps
// the clipboard's text current; "" when the clipboard holds no text (an image only, or nothing).
// `copy` without text empties the clipboard of text.
#include <memory>
#include <optional>
#include <string>

#include "bridge/Command.h"

namespace wd {

class TextClipboard;

class Clipboard : public bridge::Command {
 public:
  // `clipboard` outlives every script object (it belongs to the shell context).
  Clipboard(std::weak_ptr<bridge::WindowHandle> window, TextClipboard& clipboard);
  const bridge::ClassInfo& scriptClass() const override;
  // The exports table, reachable without an object (the page API generator reads it).
  static const bridge::ClassInfo& exports();

  void copy(std::optional<std::string> text);
  std::string paste() const;

 private:
  TextClipboard& clipboard_;
};

}  // namespace wd

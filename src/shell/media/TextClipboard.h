#pragma once
// The desktop clipboard as the page's Clipboard object needs it: put text on it, and read the
// text it holds without waiting. One per running application (ShellContext::clipboard()).
#include <string>
#include <string_view>

namespace wd {

class TextClipboard {
 public:
  virtual ~TextClipboard() = default;
  // Replaces the clipboard's content by this text.
  virtual void copy(std::string_view text) = 0;
  // The text on the clipboard as last seen; "" when it holds no text.
  virtual std::string paste() const = 0;
};

}  // namespace wd

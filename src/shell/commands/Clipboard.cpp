// MacGap.Clipboard over the shell context's TextClipboard.
#include "shell/commands/Clipboard.h"

#include "bridge/Exports.h"
#include "shell/media/TextClipboard.h"

namespace wd {

Clipboard::Clipboard(std::weak_ptr<bridge::WindowHandle> window, TextClipboard& clipboard)
    : bridge::Command(std::move(window)), clipboard_(clipboard) {}

const bridge::ClassInfo& Clipboard::scriptClass() const {
  return exports();
}

const bridge::ClassInfo& Clipboard::exports() {
  static const bridge::ClassInfo& info =
      bridge::ClassBuilder<Clipboard>("Clipboard")
          .summary("The desktop clipboard's text.")
          .method("copy:", &Clipboard::copy)
          .doc({.summary = "Puts the text on the clipboard.",
                .params = {"text"},
                .refused = "the clipboard gets \"\""})
          .method("paste", &Clipboard::paste)
          .doc({.summary = "The clipboard's text; \"\" when it holds none."})
          .build();
  return info;
}

void Clipboard::copy(std::optional<std::string> text) {
  clipboard_.copy(text.value_or(std::string()));
}

std::string Clipboard::paste() const {
  return clipboard_.paste();
}

}  // namespace wd

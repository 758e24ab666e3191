#pragma once
// TextClipboard on GTK 3's CLIPBOARD selection. Reading another program's clipboard is
// asynchronous under X11 and Wayland, and a page's call must be answered at once without a
// nested main loop, so this keeps the clipboard's text current instead: every `owner-change`
// notice starts an asynchronous text request whose answer replaces the kept text (a request
// overtaken by a later notice is ignored); text this application sets is kept at once. A
// clipboard with no text (an image only, or nothing) gives "".
//
// Needs GTK initialised on a display; made once at start-up.
#include <cstdint>
#include <memory>
#include <string>

#include "shell/media/TextClipboard.h"

typedef struct _GtkClipboard GtkClipboard;

namespace wd {

class GtkTextClipboard : public TextClipboard {
 public:
  GtkTextClipboard();
  ~GtkTextClipboard() override;
  GtkTextClipboard(const GtkTextClipboard&) = delete;
  GtkTextClipboard& operator=(const GtkTextClipboard&) = delete;

  void copy(std::string_view text) override;
  std::string paste() const override { return text_; }

  // True while a text request is outstanding (tests wait for it).
  bool updating() const { return pending_ > 0; }

 private:
  struct Request;
  void refresh();

  GtkClipboard* clipboard_ = nullptr;  // GTK's, never freed
  unsigned long ownerChange_ = 0;
  std::string text_;
  std::uint64_t generation_ = 0;  // of the latest request
  int pending_ = 0;
  std::shared_ptr<GtkTextClipboard*> self_;  // cleared at destruction; requests hold it weakly
};

}  // namespace wd

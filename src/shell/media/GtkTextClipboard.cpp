// GtkTextClipboard: the kept text follows the clipboard through owner-change notices and
// asynchronous text requests. Each request carries the generation it was made in and a weak
// reference to its clipboard object, so an answer for a stale request or a destroyed object is
// dropped.
#include "shell/media/GtkTextClipboard.h"

#include <gtk/gtk.h>

#include "shell/commands/ScriptConversions.h"

namespace wd {

namespace {

// UTF-8 for GTK: each lone surrogate the page's string held (kept as its 3-byte form) becomes one
// U+FFFD, as does every other byte that starts no well-formed sequence.
std::string clipboardText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    if (byte(i) == 0xED && i + 2 < text.size() && byte(i + 1) >= 0xA0 && byte(i + 1) <= 0xBF &&
        (byte(i + 2) & 0xC0) == 0x80) {
      out += "\xEF\xBF\xBD";
      i += 2;
    } else {
      out += text[i];
    }
  }
  return script::toValidUtf8(out);
}

}  // namespace

struct GtkTextClipboard::Request {
  std::weak_ptr<GtkTextClipboard*> owner;
  std::uint64_t generation;
};

GtkTextClipboard::GtkTextClipboard()
    : clipboard_(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD)),
      self_(std::make_shared<GtkTextClipboard*>(this)) {
  ownerChange_ = g_signal_connect_swapped(
      clipboard_, "owner-change",
      G_CALLBACK(+[](GtkTextClipboard* self, GdkEvent*) { self->refresh(); }), this);
  // The first read waits until start-up is idle: it makes the clipboard's hidden window and
  // asks the window system, which the first page does not need to wait for. It counts as
  // outstanding from now.
  ++pending_;
  g_idle_add_full(
      G_PRIORITY_LOW,
      +[](gpointer data) {
        auto owner = static_cast<std::weak_ptr<GtkTextClipboard*>*>(data)->lock();
        if (owner && *owner) {
          --(*owner)->pending_;
          (*owner)->refresh();
        }
        return G_SOURCE_REMOVE;
      },
      new std::weak_ptr<GtkTextClipboard*>(self_),
      +[](gpointer data) { delete static_cast<std::weak_ptr<GtkTextClipboard*>*>(data); });
}

GtkTextClipboard::~GtkTextClipboard() {
  g_signal_handler_disconnect(clipboard_, ownerChange_);
  *self_ = nullptr;
}

void GtkTextClipboard::copy(std::string_view text) {
  // GTK takes UTF-8 only; a lone surrogate of the page becomes U+FFFD.
  text_ = clipboardText(text);
  ++generation_;  // answers to earlier requests describe an older clipboard
  gtk_clipboard_set_text(clipboard_, text_.data(), static_cast<gint>(text_.size()));
}

void GtkTextClipboard::refresh() {
  ++pending_;
  auto* request = new Request{self_, ++generation_};
  gtk_clipboard_request_text(
      clipboard_,
      +[](GtkClipboard*, const gchar* text, gpointer data) {
        std::unique_ptr<Request> answered(static_cast<Request*>(data));
        auto owner = answered->owner.lock();
        GtkTextClipboard* self = owner ? *owner : nullptr;
        if (!self) return;
        --self->pending_;
        if (answered->generation == self->generation_) self->text_ = text ? text : "";
      },
      request);
}

}  // namespace wd

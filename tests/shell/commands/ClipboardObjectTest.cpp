// MacGap.Clipboard from real JavaScript in the headless page over the real GTK clipboard of the
// test session's display: the page's own text, text another owner puts there, an image-only
// clipboard, and copy without text.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "shell/ShellFakes.h"
#include "shell/commands/Clipboard.h"
#include "shell/commands/DesktopCommand.h"
#include "shell/media/GtkTextClipboard.h"
#include "support/Loop.h"

namespace wd::test {
namespace {

class ClipboardObject : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    clipboard = std::make_unique<GtkTextClipboard>();
    window = std::make_shared<FakeWindow>();
    window->page.install({std::make_shared<DesktopCommand>(window),
                          {{"Clipboard", std::make_shared<Clipboard>(window, *clipboard)}}});
    settle();
  }
  Json js(const std::string& script) { return window->page.evaluate(script).value_or(Json()); }
  // Lets the clipboard's notices and text requests run to the end.
  void settle() {
    drainLoop(50);
    EXPECT_TRUE(waitFor([&] { return !clipboard->updating(); }));
  }
  // Another owner takes the clipboard (as another program would) with this content; the page
  // then pastes `text`.
  void takeOver(const std::function<void(GtkClipboard*)>& set, const std::string& text) {
    set(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
    EXPECT_TRUE(waitFor([&] { return js("MacGap.Clipboard.paste()") == Json(text); })) << text;
  }

  std::unique_ptr<GtkTextClipboard> clipboard;
  std::shared_ptr<FakeWindow> window;
};

TEST_F(ClipboardObject, TextRoundTripsThroughTheDesktopClipboard) {
  for (const char* text : {"abc", "h\u00e9llo \u2713 \U0001F600", "line\nnext", ""}) {
    const std::string quoted = Json(text).dump();
    // Right away from the page's own copy, and still after the clipboard's notice came back.
    EXPECT_EQ(js("MacGap.Clipboard.copy(" + quoted + "); MacGap.Clipboard.paste()"), Json(text));
    settle();
    EXPECT_EQ(js("MacGap.Clipboard.paste()"), Json(text));
    g_autofree gchar* onDisplay =
        gtk_clipboard_wait_for_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
    EXPECT_STREQ(onDisplay ? onDisplay : "", text);
  }
  // A lone surrogate cannot go on the clipboard as it is.
  EXPECT_EQ(js("MacGap.Clipboard.copy('a\\uD800b'); MacGap.Clipboard.paste()"), Json("a\uFFFDb"));
  js("MacGap.Clipboard.copy('x'); MacGap.Clipboard.copy()");
  EXPECT_EQ(js("MacGap.Clipboard.paste()"), Json(""));
}

TEST_F(ClipboardObject, FollowsWhatOtherOwnersPutThere) {
  js("MacGap.Clipboard.copy('mine')");
  takeOver([](GtkClipboard* c) { gtk_clipboard_set_text(c, "theirs", -1); }, "theirs");
  // An image only: no text.
  takeOver(
      [](GtkClipboard* c) {
        g_autoptr(GdkPixbuf) image = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 4, 4);
        gdk_pixbuf_fill(image, 0xff0000ff);
        gtk_clipboard_set_image(c, image);
      },
      "");
  // Text again, then an owner that gives up the clipboard: nothing to paste.
  takeOver([](GtkClipboard* c) { gtk_clipboard_set_text(c, "again", -1); }, "again");
  takeOver([](GtkClipboard* c) { gtk_clipboard_clear(c); }, "");
}

}  // namespace
}  // namespace wd::test

// MacGap.Dialog from real JavaScript in the headless page, showing real GtkFileChooserNative
// dialogs on the test session's display. Without a desktop portal GTK shows its own file chooser
// dialog; the tests find it among the toplevels and answer it as a user would (select, type a
// name, press a button), then check the page's callback got exactly the chosen paths, or nothing
// on cancel.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "bridge/testing/JscHarness.h"
#include "shell/NotificationDaemon.h"  // waitFor
#include "shell/commands/DesktopCommand.h"
#include "shell/commands/Dialog.h"
#include "shell/window/WebWindow.h"

namespace wd::test {
namespace {

namespace fs = std::filesystem;

// A web window as Dialog sees it: the headless page and a real toplevel for sheets.
class SheetWindow : public WebWindow {
 public:
  SheetWindow() : window(GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL))) {
    gtk_widget_show(GTK_WIDGET(window));
  }
  ~SheetWindow() override { gtk_widget_destroy(GTK_WIDGET(window)); }
  bridge::ScriptPage* scriptPage() override { return &page; }
  GtkWindow* gtkWindow() override { return window; }
  void showWindow() override {}
  void makeKeyAndOrderFront() override {}
  bool isVisible() const override { return true; }
  void setWindowParams() override {}
  void printContent() override {}
  void performClose() override {}

  bridge::testing::JscHarness page;
  GtkWindow* window;
};

std::vector<GtkFileChooserDialog*> shownChoosers() {
  std::vector<GtkFileChooserDialog*> found;
  GList* all = gtk_window_list_toplevels();
  for (GList* l = all; l; l = l->next)
    if (GTK_IS_FILE_CHOOSER_DIALOG(l->data) && gtk_widget_get_visible(GTK_WIDGET(l->data)))
      found.push_back(GTK_FILE_CHOOSER_DIALOG(l->data));
  g_list_free(all);
  return found;
}

std::string currentFolder(GtkFileChooser* chooser) {
  gchar* folder = gtk_file_chooser_get_current_folder(chooser);
  std::string out = folder ? folder : "";
  g_free(folder);
  return out;
}

std::vector<std::string> selected(GtkFileChooser* chooser) {
  std::vector<std::string> out;
  GSList* names = gtk_file_chooser_get_filenames(chooser);
  for (GSList* l = names; l; l = l->next) out.emplace_back(static_cast<char*>(l->data));
  g_slist_free_full(names, g_free);
  return out;
}

class DialogObject : public ::testing::Test {
 protected:
  void SetUp() override {
    g_unsetenv("GTK_USE_PORTAL");
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    dir = fs::canonical(fs::path(getenv("HOME"))) /
          ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::create_directories(dir / "sub");
    for (const char* name : {"a.txt", "b.txt"}) std::ofstream(dir / name) << name;
    window = std::make_shared<SheetWindow>();
    dialog = std::make_shared<Dialog>(window);
    window->page.install({std::make_shared<DesktopCommand>(window), {{"Dialog", dialog}}});
    js("window.calls = []; window.record = function (v) { calls.push(v); };");
  }
  void TearDown() override {
    for (auto* d : shownChoosers()) gtk_dialog_response(GTK_DIALOG(d), GTK_RESPONSE_CANCEL);
    settle();
  }
  Json js(const std::string& script) { return window->page.evaluate(script).value_or(Json()); }
  // The dialog on screen, once it is there.
  GtkFileChooserDialog* chooser() {
    EXPECT_TRUE(waitFor([] { return !shownChoosers().empty(); }));
    auto all = shownChoosers();
    EXPECT_EQ(all.size(), 1u);
    return all.empty() ? nullptr : all.front();
  }
  // Runs what is pending on the main loop.
  static void settle() {
    for (int i = 0; i < 1000 && g_main_context_iteration(nullptr, FALSE); ++i) {
    }
  }
  // Presses the accept button. The chooser checks a typed name asynchronously and drops that
  // check when its folder reloads meanwhile, leaving the dialog up; a user presses again then.
  void accept(GtkFileChooserDialog* d) {
    for (int attempt = 0; attempt < 10; ++attempt) {
      gtk_dialog_response(GTK_DIALOG(d), GTK_RESPONSE_ACCEPT);
      if (waitFor([&] { return js("calls.length") != Json(0) || shownChoosers().empty(); }, 3))
        return;
    }
  }
  Json firstCall() {
    EXPECT_TRUE(waitFor([&] { return js("calls.length") == Json(1); }));
    return js("calls[0]");
  }

  fs::path dir;
  std::shared_ptr<SheetWindow> window;
  std::shared_ptr<Dialog> dialog;
};

TEST_F(DialogObject, OpenDialogOffersFilesOrFoldersInItsOwnWindowAndReportsThePaths) {
  struct Case {
    const char* options;
    GtkFileChooserAction action;
    bool multiple;
    std::string pick;                // a name in the folder, or "*" for everything in "multi"
    std::vector<std::string> paths;  // what the callback gets
  };
  fs::create_directories(dir / "multi");
  for (const char* name : {"b.txt", "a.txt"}) std::ofstream(dir / "multi" / name) << name;
  const Case cases[] = {
      {"{files: true, multiple: true}",
       GTK_FILE_CHOOSER_ACTION_OPEN,
       true,
       "*",
       {"multi/a.txt", "multi/b.txt"}},
      {"{directories: 'yes'}", GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, false, "sub", {"sub"}},
      {"{multiple: 0}", GTK_FILE_CHOOSER_ACTION_OPEN, false, "a.txt", {"a.txt"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    js("calls = []; var o = " + std::string(c.options) +
       "; o.callback = record;"
       "MacGap.Dialog.openDialog(o)");
    GtkFileChooserDialog* d = chooser();
    ASSERT_NE(d, nullptr);
    auto* fc = GTK_FILE_CHOOSER(d);
    EXPECT_EQ(gtk_file_chooser_get_action(fc), c.action);
    EXPECT_EQ(gtk_file_chooser_get_select_multiple(fc), c.multiple);
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(d)), nullptr);
    EXPECT_FALSE(gtk_window_get_modal(GTK_WINDOW(d)));
    const char* title = gtk_window_get_title(GTK_WINDOW(d));  // portals list it by its title
    EXPECT_TRUE(title && *title);

    std::vector<std::string> expected;
    for (const auto& name : c.paths) expected.push_back((dir / name).string());
    if (c.pick == "*") {
      gtk_file_chooser_set_current_folder(fc, (dir / "multi").c_str());
      EXPECT_TRUE(waitFor([&] {
        gtk_file_chooser_select_all(fc);  // once the folder has loaded
        return selected(fc).size() == expected.size();
      }));
    } else {
      const std::string path = (dir / c.pick).string();
      gtk_file_chooser_select_filename(fc, path.c_str());
      EXPECT_TRUE(waitFor([&] { return selected(fc) == std::vector<std::string>{path}; }));
    }
    accept(d);
    EXPECT_EQ(firstCall(), Json(expected));
    EXPECT_TRUE(waitFor([] { return shownChoosers().empty(); }));
  }
}

TEST_F(DialogObject, SaveDialogIsASheetWithThePagesSettingsAndReportsTheChosenFile) {
  struct Case {
    std::string options;
    const char* title;  // nullptr: the toolkit's
    std::string folder;
    const char* typed;  // what the user types, nullptr: the page's name is kept
    bool createFolders;
  };
  const Case cases[] = {
      {"{title: 'Export', prompt: 'Export', message: 'Pick a place', filename: 'report.txt',"
       " directory: " +
           Json("file://" + dir.string()).dump() +
           ", createDirs: false, allowedTypes: ['txt', '.MD', 3]}",
       "Export \u2014 Pick a place", dir.string(), nullptr, false},
      // A bare path is not a file URL: the dialog opens where the toolkit opens it.
      {"{directory: '/'}", nullptr, (dir / "sub").string(), "typed name.eml", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    js("calls = []; var o = " + c.options + "; o.callback = record; MacGap.Dialog.saveDialog(o)");
    GtkFileChooserDialog* d = chooser();
    ASSERT_NE(d, nullptr);
    auto* fc = GTK_FILE_CHOOSER(d);
    EXPECT_EQ(gtk_file_chooser_get_action(fc), GTK_FILE_CHOOSER_ACTION_SAVE);
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(d)), window->window);
    EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(d)));
    EXPECT_EQ(gtk_file_chooser_get_create_folders(fc), c.createFolders);
    if (c.title) {
      EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(d)), c.title);
      GtkWidget* acceptButton =
          gtk_dialog_get_widget_for_response(GTK_DIALOG(d), GTK_RESPONSE_ACCEPT);
      EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(acceptButton)), "Export");
      ASSERT_NE(gtk_file_chooser_get_filter(fc), nullptr);
      EXPECT_STREQ(gtk_file_filter_get_name(gtk_file_chooser_get_filter(fc)), "txt, .MD");
    } else {
      gtk_file_chooser_set_current_folder(fc, c.folder.c_str());
    }
    EXPECT_TRUE(waitFor([&] { return currentFolder(fc) == c.folder; }));
    if (c.typed) gtk_file_chooser_set_current_name(fc, c.typed);
    accept(d);
    const std::string name = c.typed ? c.typed : "report.txt";
    EXPECT_EQ(firstCall(), (Json{{"directory", c.folder},
                                 {"filePath", (fs::path(c.folder) / name).string()},
                                 {"filename", name}}));
    EXPECT_FALSE(fs::exists(fs::path(c.folder) / name));  // the dialog writes nothing
    EXPECT_TRUE(waitFor([] { return shownChoosers().empty(); }));
  }
}

TEST_F(DialogObject, CancelCallsNothingAndOneDialogShowsAtATime) {
  const char* calls[] = {"MacGap.Dialog.openDialog({files: true, callback: record})",
                         "MacGap.Dialog.saveDialog({filename: 'x', callback: record})"};
  for (const char* call : calls) {
    SCOPED_TRACE(call);
    js(call);
    GtkFileChooserDialog* d = chooser();
    ASSERT_NE(d, nullptr);
    js(call);  // while one is on screen, nothing more is shown
    js(calls[0]);
    settle();
    EXPECT_EQ(shownChoosers().size(), 1u);
    gtk_dialog_response(GTK_DIALOG(d), GTK_RESPONSE_CANCEL);
    settle();
    EXPECT_TRUE(shownChoosers().empty());
    EXPECT_EQ(js("calls.length"), Json(0));
  }
  // Bad options never throw into the page and show nothing.
  EXPECT_EQ(js("try { MacGap.Dialog.openDialog(); MacGap.Dialog.saveDialog('x');"
               "  MacGap.Dialog.openDialog(null); 'ok' } catch (e) { String(e) }"),
            Json("ok"));
  settle();
  EXPECT_TRUE(shownChoosers().empty());
}

}  // namespace
}  // namespace wd::test

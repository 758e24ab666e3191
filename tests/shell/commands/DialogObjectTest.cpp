// MacGap.Dialog in the headless page, showing real GtkFileChooserNative dialogs on the test
// session's display (without a desktop portal: GTK's own dialog), answered as a user would; the
// page's callback gets exactly the chosen paths, or nothing on cancel.
#include "PageObjectTest.h"
#include "shell/commands/Dialog.h"

namespace wd::test {

static std::vector<GtkFileChooserDialog*> shownChoosers() {
  std::vector<GtkFileChooserDialog*> found;
  GList* all = gtk_window_list_toplevels();
  for (GList* l = all; l; l = l->next)
    if (GTK_IS_FILE_CHOOSER_DIALOG(l->data) && gtk_widget_get_visible(GTK_WIDGET(l->data)))
      found.push_back(GTK_FILE_CHOOSER_DIALOG(l->data));
  g_list_free(all);
  return found;
}

static std::string currentFolder(GtkFileChooser* chooser) {
  g_autofree gchar* folder = gtk_file_chooser_get_current_folder(chooser);
  return folder ? folder : "";
}

static std::vector<std::string> selected(GtkFileChooser* chooser) {
  std::vector<std::string> out;
  GSList* names = gtk_file_chooser_get_filenames(chooser);
  for (GSList* l = names; l; l = l->next) out.emplace_back(static_cast<char*>(l->data));
  g_slist_free_full(names, g_free);
  return out;
}

// Dialogs for a real (shown) toplevel, which takes save dialogs as sheets.
class DialogObject : public PageObjectTest {
 protected:
  void SetUp() override {
    g_unsetenv("GTK_USE_PORTAL");
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    dir = fs::canonical(testDirectory());
    fs::create_directories(dir / "sub");
    for (const char* name : {"a.txt", "b.txt"}) writeFile(dir / name, name);
    window = web = std::make_shared<RealGtkWindow>();
    web->visible = true;
    gtk_widget_show(GTK_WIDGET(web->window));
    install("Dialog", std::make_shared<Dialog>(window));
    js("window.calls = []; window.record = function (v) { calls.push(v); };");
  }
  void TearDown() override {
    for (auto* d : shownChoosers()) gtk_dialog_response(GTK_DIALOG(d), GTK_RESPONSE_CANCEL);
    drainLoop();
  }
  // Shows MacGap.Dialog.<kind>(options) with the recording callback: the chooser on screen.
  GtkFileChooser* show(const std::string& kind, const std::string& options) {
    js("calls = []; var o = " + options + "; o.callback = record; MacGap.Dialog." + kind + "(o)");
    EXPECT_TRUE(waitFor([] { return !shownChoosers().empty(); }));
    auto all = shownChoosers();
    EXPECT_EQ(all.size(), 1u);
    return all.empty() ? nullptr : GTK_FILE_CHOOSER(all.front());
  }
  // Presses the accept button; what the page's callback got, once the dialog has gone. The
  // chooser checks a typed name asynchronously and drops that check when its folder reloads
  // meanwhile, leaving the dialog up; a user presses again then.
  Json accept(GtkFileChooser* fc) {
    for (int attempt = 0; attempt < 10; ++attempt) {
      gtk_dialog_response(GTK_DIALOG(fc), GTK_RESPONSE_ACCEPT);
      if (waitFor([&] { return js("calls.length") != Json(0) || shownChoosers().empty(); }, 3))
        break;
    }
    EXPECT_TRUE(waitFor([&] { return js("calls.length") == Json(1) && shownChoosers().empty(); }));
    return js("calls[0]");
  }

  fs::path dir;
  std::shared_ptr<RealGtkWindow> web;
};

TEST_F(DialogObject, OpenDialogOffersFilesOrFoldersInItsOwnWindowAndReportsThePaths) {
  struct Case {
    const char* options;
    bool folders, multiple;
    std::string pick;                // a name in the folder, or "*" for everything in "multi"
    std::vector<std::string> paths;  // what the callback gets
  };
  for (const char* name : {"b.txt", "a.txt"}) writeFile(dir / "multi" / name, name);
  const Case cases[] = {
      {"{files: true, multiple: true}", false, true, "*", {"multi/a.txt", "multi/b.txt"}},
      {"{directories: 'yes'}", true, false, "sub", {"sub"}},
      {"{multiple: 0}", false, false, "a.txt", {"a.txt"}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    GtkFileChooser* fc = show("openDialog", c.options);
    ASSERT_NE(fc, nullptr);
    EXPECT_EQ(gtk_file_chooser_get_action(fc),
              c.folders ? GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER : GTK_FILE_CHOOSER_ACTION_OPEN);
    EXPECT_EQ(gtk_file_chooser_get_select_multiple(fc), c.multiple);
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(fc)), nullptr);
    EXPECT_FALSE(gtk_window_get_modal(GTK_WINDOW(fc)));
    const char* title = gtk_window_get_title(GTK_WINDOW(fc));  // portals list it by its title
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
      gtk_file_chooser_select_filename(fc, expected[0].c_str());
      EXPECT_TRUE(waitFor([&] { return selected(fc) == expected; }));
    }
    EXPECT_EQ(accept(fc), Json(expected));
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
       " createDirs: false, allowedTypes: ['txt', '.MD', 3], directory: " +
           lit("file://" + dir.string()) + "}",
       "Export \u2014 Pick a place", dir.string(), nullptr, false},
      // A bare path is not a file URL: the dialog opens where the toolkit opens it.
      {"{directory: '/'}", nullptr, (dir / "sub").string(), "typed name.eml", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    GtkFileChooser* fc = show("saveDialog", c.options);
    ASSERT_NE(fc, nullptr);
    EXPECT_EQ(gtk_file_chooser_get_action(fc), GTK_FILE_CHOOSER_ACTION_SAVE);
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(fc)), web->window);
    EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(fc)));
    EXPECT_EQ(gtk_file_chooser_get_create_folders(fc), c.createFolders);
    if (c.title) {
      EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(fc)), c.title);
      GtkWidget* button = gtk_dialog_get_widget_for_response(GTK_DIALOG(fc), GTK_RESPONSE_ACCEPT);
      EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(button)), "Export");
      ASSERT_NE(gtk_file_chooser_get_filter(fc), nullptr);
      EXPECT_STREQ(gtk_file_filter_get_name(gtk_file_chooser_get_filter(fc)), "txt, .MD");
    } else {
      gtk_file_chooser_set_current_folder(fc, c.folder.c_str());
    }
    EXPECT_TRUE(waitFor([&] { return currentFolder(fc) == c.folder; }));
    if (c.typed) gtk_file_chooser_set_current_name(fc, c.typed);
    const std::string name = c.typed ? c.typed : "report.txt";
    EXPECT_EQ(accept(fc), (Json{{"directory", c.folder},
                                {"filePath", (fs::path(c.folder) / name).string()},
                                {"filename", name}}));
    EXPECT_FALSE(fs::exists(fs::path(c.folder) / name));  // the dialog writes nothing
  }
}

TEST_F(DialogObject, CancelCallsNothingAndOneDialogShowsAtATime) {
  for (const auto& [kind, options] :
       {std::pair{"openDialog", "{files: true}"}, std::pair{"saveDialog", "{filename: 'x'}"}}) {
    SCOPED_TRACE(kind);
    GtkFileChooser* fc = show(kind, options);
    ASSERT_NE(fc, nullptr);
    // While one is on screen, nothing more is shown.
    js(std::string("MacGap.Dialog.") + kind + "(o); MacGap.Dialog.openDialog({files: true})");
    drainLoop();
    EXPECT_EQ(shownChoosers().size(), 1u);
    gtk_dialog_response(GTK_DIALOG(fc), GTK_RESPONSE_CANCEL);
    drainLoop();
    EXPECT_TRUE(shownChoosers().empty());
    EXPECT_EQ(js("calls.length"), Json(0));
  }
  // Bad options never throw into the page and show nothing.
  expectNoThrow(
      "MacGap.Dialog.openDialog(); MacGap.Dialog.saveDialog('x');"
      "MacGap.Dialog.openDialog(null)");
  drainLoop();
  EXPECT_TRUE(shownChoosers().empty());
}

}  // namespace wd::test

// Platform pieces of the shell: the context-menu filter table, the saved window frame, finding
// an application by name through desktop entries, and the Preferences window's panes.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "core/Paths.h"
#include "shell/preferences/PreferencesWindowController.h"
#include "shell/system/Workspace.h"
#include "shell/window/ContextMenuFilter.h"
#include "shell/window/WindowCentring.h"
#include "shell/window/WindowFrame.h"

namespace wd {
namespace {
namespace fs = std::filesystem;

TEST(ContextMenuFilter, RemovesNavigationDownloadAndLinkItemsKeepsEditing) {
  for (auto a : {WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW,
                 WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_LINK_TO_DISK,
                 WEBKIT_CONTEXT_MENU_ACTION_COPY_LINK_TO_CLIPBOARD,
                 WEBKIT_CONTEXT_MENU_ACTION_OPEN_IMAGE_IN_NEW_WINDOW,
                 WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_IMAGE_TO_DISK,
                 WEBKIT_CONTEXT_MENU_ACTION_COPY_IMAGE_TO_CLIPBOARD,
                 WEBKIT_CONTEXT_MENU_ACTION_OPEN_FRAME_IN_NEW_WINDOW,
                 WEBKIT_CONTEXT_MENU_ACTION_GO_BACK, WEBKIT_CONTEXT_MENU_ACTION_GO_FORWARD,
                 WEBKIT_CONTEXT_MENU_ACTION_STOP, WEBKIT_CONTEXT_MENU_ACTION_RELOAD})
    EXPECT_TRUE(isFilteredContextMenuAction(a)) << a;
  for (auto a :
       {WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK,
        WEBKIT_CONTEXT_MENU_ACTION_COPY_IMAGE_URL_TO_CLIPBOARD, WEBKIT_CONTEXT_MENU_ACTION_COPY,
        WEBKIT_CONTEXT_MENU_ACTION_CUT, WEBKIT_CONTEXT_MENU_ACTION_PASTE,
        WEBKIT_CONTEXT_MENU_ACTION_SELECT_ALL, WEBKIT_CONTEXT_MENU_ACTION_SPELLING_GUESS,
        WEBKIT_CONTEXT_MENU_ACTION_IGNORE_SPELLING, WEBKIT_CONTEXT_MENU_ACTION_CUSTOM,
        WEBKIT_CONTEXT_MENU_ACTION_NO_ACTION, WEBKIT_CONTEXT_MENU_ACTION_INSPECT_ELEMENT})
    EXPECT_FALSE(isFilteredContextMenuAction(a)) << a;
}

TEST(ContextMenuFilter, AMenuOnALinkKeepsOpenLinkAndCopyInOrder) {
  WebKitContextMenu* menu = webkit_context_menu_new();
  for (auto a :
       {WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK, WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW,
        WEBKIT_CONTEXT_MENU_ACTION_COPY_LINK_TO_CLIPBOARD})
    webkit_context_menu_append(menu, webkit_context_menu_item_new_from_stock_action(a));
  webkit_context_menu_append(menu, webkit_context_menu_item_new_separator());
  webkit_context_menu_append(
      menu, webkit_context_menu_item_new_from_stock_action(WEBKIT_CONTEXT_MENU_ACTION_COPY));
  webkit_context_menu_append(
      menu, webkit_context_menu_item_new_from_stock_action(WEBKIT_CONTEXT_MENU_ACTION_PASTE));
  filterContextMenu(menu);
  std::vector<int> left;
  for (GList* l = webkit_context_menu_get_items(menu); l; l = l->next)
    left.push_back(webkit_context_menu_item_get_stock_action(WEBKIT_CONTEXT_MENU_ITEM(l->data)));
  EXPECT_EQ(left,
            (std::vector<int>{WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK,
                              WEBKIT_CONTEXT_MENU_ACTION_NO_ACTION,  // the separator between
                              WEBKIT_CONTEXT_MENU_ACTION_COPY, WEBKIT_CONTEXT_MENU_ACTION_PASTE}));
  g_object_unref(menu);
}

TEST(WindowFrame, SavedAndRestoredByNameDamagedFilesGiveNone) {
  WindowFrame f{12, 34, 900, 700};
  ASSERT_TRUE(f.save("MacGapWindow"));
  auto back = WindowFrame::load("MacGapWindow");
  ASSERT_TRUE(back);
  EXPECT_EQ(back->x, 12);
  EXPECT_EQ(back->height, 700);
  EXPECT_FALSE(WindowFrame::load("Missing"));
  EXPECT_FALSE((WindowFrame{0, 0, 900, 700}.save("../escape")));
  for (const char* text : {"not json", "{\"x\": 1}", "{\"x\":0,\"y\":0,\"width\":5,\"height\":5}",
                           "{\"x\":\"a\",\"y\":0,\"width\":500,\"height\":500}"}) {
    std::ofstream(paths::stateDirectory() / "Bad.json") << text;
    EXPECT_FALSE(WindowFrame::load("Bad")) << text;
  }
}

TEST(Workspace, FindsAnApplicationByIdNameOrExecutable) {
  const fs::path apps = fs::path(std::getenv("XDG_DATA_HOME")) / "applications";
  fs::create_directories(apps);
  std::ofstream(apps / "org.example.Tool.desktop")
      << "[Desktop Entry]\nType=Application\nName=Example Tool\nExec=true %U\n";
  EXPECT_EQ(GioWorkspace::findApplication("Example Tool"),
            std::optional<std::string>("org.example.Tool.desktop"));
  EXPECT_EQ(GioWorkspace::findApplication("example tool"),
            std::optional<std::string>("org.example.Tool.desktop"));
  EXPECT_EQ(GioWorkspace::findApplication("org.example.Tool"),
            std::optional<std::string>("org.example.Tool.desktop"));
  EXPECT_FALSE(GioWorkspace::findApplication("No Such Application At All"));
  EXPECT_FALSE(GioWorkspace::findApplication(""));
  GioWorkspace workspace;
  EXPECT_FALSE(workspace.openURL("not a url"));
  EXPECT_FALSE(workspace.launchApplication("No Such Application At All"));
}

class CountingPane : public PreferencesPane {
 public:
  CountingPane(std::string id, bool* allowLeave) : id_(std::move(id)), allowLeave_(allowLeave) {}
  ~CountingPane() override {
    if (view_) g_object_unref(view_);
  }
  std::string identifier() const override { return id_; }
  std::string toolbarItemImage() const override { return "preferences-system"; }
  std::string toolbarItemLabel() const override { return id_; }
  GtkWidget* view() override {
    if (!view_) view_ = GTK_WIDGET(g_object_ref_sink(gtk_label_new(id_.c_str())));
    return view_;
  }
  void viewWillAppear() override { ++appeared; }
  void viewDidDisappear() override { ++disappeared; }
  bool commitEditing() override { return *allowLeave_; }
  int appeared = 0, disappeared = 0;

 private:
  std::string id_;
  bool* allowLeave_;
  GtkWidget* view_ = nullptr;
};

TEST(PreferencesWindow, OnePanePerControllerSelectableByIdentifier) {
  ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
  bool allowLeave = true;
  PreferencesWindowController prefs("Preferences");
  auto general = std::make_unique<CountingPane>("General", &allowLeave);
  auto accounts = std::make_unique<CountingPane>("Accounts", &allowLeave);
  auto* g = general.get();
  auto* a = accounts.get();
  prefs.addViewController(std::move(general));
  prefs.addViewController(std::move(accounts));
  prefs.showWindow();
  EXPECT_EQ(prefs.selectedIdentifier(), "General");
  EXPECT_EQ(std::string(gtk_window_get_title(prefs.window())), "Preferences");
  EXPECT_TRUE(prefs.selectControllerWithIdentifier("Accounts"));
  EXPECT_EQ(prefs.selectedIdentifier(), "Accounts");
  EXPECT_EQ(g->disappeared, 1);
  EXPECT_EQ(a->appeared, 1);
  EXPECT_FALSE(prefs.selectControllerWithIdentifier("Nope"));
  allowLeave = false;  // the pane cannot commit its edits: it stays
  EXPECT_FALSE(prefs.selectControllerWithIdentifier("General"));
  EXPECT_EQ(prefs.selectedIdentifier(), "Accounts");
}

}  // namespace
}  // namespace wd

namespace wd::test {

TEST(WindowCentring, CentresOnItsOwnMonitorAndKeepsLargeWindowsOnIt) {
  struct Case {
    screen::Rect monitor;
    double width, height;
    screen::Rect expected;
  };
  const Case cases[] = {
      {{0, 0, 1440, 900}, 400, 200, {520, 350, 400, 200}},
      {{1440, 0, 1920, 1080}, 400, 200, {2200, 440, 400, 200}},  // a secondary monitor
      {{0, 0, 1024, 768}, 1200, 300, {0, 234, 1200, 300}},       // wider than the monitor
      {{0, 0, 0, 0}, 401, 201, {0, 0, 401, 201}},                // no monitor
  };
  for (const auto& c : cases) EXPECT_EQ(centredFrame(c.monitor, c.width, c.height), c.expected);
}

}  // namespace wd::test

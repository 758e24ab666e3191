// Platform pieces of the shell: the context-menu filter, window frames and centring, desktop
// entries, a session bus address that is gone.
#include <gio/gdesktopappinfo.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "core/Paths.h"
#include "shell/system/SessionBus.h"
#include "shell/system/Workspace.h"
#include "shell/window/ContextMenuFilter.h"
#include "shell/window/WindowCentring.h"
#include "shell/window/WindowFrame.h"
#include "support/Process.h"

namespace wd {
namespace {
namespace fs = std::filesystem;

// Navigation, download and link items go, editing stays; the separator between kept items too.
TEST(ContextMenuFilter, RemovesNavigationDownloadAndLinkItemsKeepsEditingInOrder) {
  // NO_ACTION stands for the separator.
  const std::vector<int> kept{WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK,
                              WEBKIT_CONTEXT_MENU_ACTION_COPY_IMAGE_URL_TO_CLIPBOARD,
                              WEBKIT_CONTEXT_MENU_ACTION_NO_ACTION,
                              WEBKIT_CONTEXT_MENU_ACTION_COPY,
                              WEBKIT_CONTEXT_MENU_ACTION_CUT,
                              WEBKIT_CONTEXT_MENU_ACTION_PASTE,
                              WEBKIT_CONTEXT_MENU_ACTION_SELECT_ALL,
                              WEBKIT_CONTEXT_MENU_ACTION_SPELLING_GUESS,
                              WEBKIT_CONTEXT_MENU_ACTION_IGNORE_SPELLING,
                              WEBKIT_CONTEXT_MENU_ACTION_INSPECT_ELEMENT};
  g_autoptr(WebKitContextMenu) menu = webkit_context_menu_new();
  for (int a : kept) {
    webkit_context_menu_append(
        menu, a == WEBKIT_CONTEXT_MENU_ACTION_NO_ACTION
                  ? webkit_context_menu_item_new_separator()
                  : webkit_context_menu_item_new_from_stock_action(WebKitContextMenuAction(a)));
    if (a != WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK) continue;
    for (auto removed : {WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW,
                         WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_LINK_TO_DISK,
                         WEBKIT_CONTEXT_MENU_ACTION_COPY_LINK_TO_CLIPBOARD,
                         WEBKIT_CONTEXT_MENU_ACTION_OPEN_IMAGE_IN_NEW_WINDOW,
                         WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_IMAGE_TO_DISK,
                         WEBKIT_CONTEXT_MENU_ACTION_COPY_IMAGE_TO_CLIPBOARD,
                         WEBKIT_CONTEXT_MENU_ACTION_OPEN_FRAME_IN_NEW_WINDOW,
                         WEBKIT_CONTEXT_MENU_ACTION_GO_BACK, WEBKIT_CONTEXT_MENU_ACTION_GO_FORWARD,
                         WEBKIT_CONTEXT_MENU_ACTION_STOP, WEBKIT_CONTEXT_MENU_ACTION_RELOAD})
      webkit_context_menu_append(menu, webkit_context_menu_item_new_from_stock_action(removed));
  }
  filterContextMenu(menu);
  std::vector<int> left;
  for (GList* l = webkit_context_menu_get_items(menu); l; l = l->next)
    left.push_back(webkit_context_menu_item_get_stock_action(WEBKIT_CONTEXT_MENU_ITEM(l->data)));
  EXPECT_EQ(left, kept);
  EXPECT_FALSE(isFilteredContextMenuAction(WEBKIT_CONTEXT_MENU_ACTION_CUSTOM));
}

TEST(WindowFrame, SavedAndRestoredByNameDamagedFilesGiveNoneAndCentredOnItsMonitor) {
  ASSERT_TRUE((WindowFrame{12, 34, 900, 700}.save("MacGapWindow")));
  EXPECT_EQ(WindowFrame::load("MacGapWindow"), (WindowFrame{12, 34, 900, 700}));
  EXPECT_FALSE(WindowFrame::load("Missing"));
  EXPECT_FALSE((WindowFrame{0, 0, 900, 700}.save("../escape")));
  for (const char* text : {"not json", "{\"x\": 1}", "{\"x\":0,\"y\":0,\"width\":5,\"height\":5}",
                           "{\"x\":\"a\",\"y\":0,\"width\":500,\"height\":500}"}) {
    std::ofstream(paths::stateDirectory() / "Bad.json") << text;
    EXPECT_FALSE(WindowFrame::load("Bad")) << text;
  }
  const std::tuple<screen::Rect, double, double, screen::Rect> cases[] = {
      {{0, 0, 1440, 900}, 400, 200, {520, 350, 400, 200}},
      {{1440, 0, 1920, 1080}, 400, 200, {2200, 440, 400, 200}},  // a secondary monitor
      {{0, 0, 1024, 768}, 1200, 300, {0, 234, 1200, 300}},       // wider than the monitor
      {{0, 0, 0, 0}, 401, 201, {0, 0, 401, 201}},                // no monitor
  };
  for (const auto& [monitor, width, height, expected] : cases)
    EXPECT_EQ(centredFrame(monitor, width, height), expected);
}

TEST(DesktopEntries, FoundByIdNameOrExecutableAndTheInstalledOneFindsTheProgramAndHandlesMailto) {
  const fs::path apps = fs::path(std::getenv("XDG_DATA_HOME")) / "applications";
  fs::create_directories(apps);
  std::ofstream(apps / "org.example.Tool.desktop")
      << "[Desktop Entry]\nType=Application\nName=Example Tool\nExec=true %U\n";
  for (const char* name : {"Example Tool", "example tool", "org.example.Tool"})
    EXPECT_EQ(GioWorkspace::findApplication(name), "org.example.Tool.desktop") << name;
  EXPECT_FALSE(GioWorkspace::findApplication("No Such Application At All"));
  EXPECT_FALSE(GioWorkspace::findApplication(""));
  GioWorkspace workspace;
  EXPECT_FALSE(workspace.openURL("not a url"));
  EXPECT_FALSE(workspace.launchApplication("No Such Application At All"));

  // `cmake --install` of this build into a prefix with a space, '$' and '"' in it: the desktop
  // entry names the program by its quoted absolute path (GIO runs it without the prefix's bin
  // folder on PATH) and declares it handles mailto: links.
  const fs::path prefix = fs::path(std::getenv("HOME")) / "my apps $HOME \"x\"";
  g_autofree gchar* build = g_shell_quote(std::getenv("WD_BINARY_DIR"));
  g_autofree gchar* into = g_shell_quote(prefix.c_str());
  const auto install =
      test::runProcess(std::string("cmake --install ") + build + " --prefix " + into);
  ASSERT_EQ(install.status, 0) << install.err;
  const std::string saved = g_getenv("PATH");
  g_setenv("PATH", "/usr/bin:/bin", TRUE);
  const fs::path entry = prefix / "share/applications/com.tovik.WendrelDesktop.desktop";
  g_autoptr(GDesktopAppInfo) info = g_desktop_app_info_new_from_filename(entry.c_str());
  ASSERT_TRUE(info) << "GIO refused the entry (TryExec not found?)";
  g_auto(GStrv) words = nullptr;
  ASSERT_TRUE(
      g_shell_parse_argv(g_app_info_get_commandline(G_APP_INFO(info)), nullptr, &words, nullptr));
  EXPECT_EQ(std::string(words[0]), (prefix / "bin/wendrel-desktop").string());
  EXPECT_STREQ(words[1], "%U");
  const char* const* types = g_app_info_get_supported_types(G_APP_INFO(info));
  EXPECT_TRUE(types && g_strv_contains(types, "x-scheme-handler/mailto"));
  g_setenv("PATH", saved.c_str(), TRUE);
  fs::remove_all(prefix);
}

// A session bus address is gone only when every entry is a unix socket path that is missing.
TEST(SessionBus, AnAddressIsGoneOnlyWhenEverySocketPathIsMissing) {
  const std::string here = fs::temp_directory_path().string();
  const std::pair<std::string, bool> cases[] = {
      {"unix:path=/nonexistent/wd/bus", true},
      {"unix:path=%2Fnonexistent%2Fwd,guid=1;unix:path=/nonexistent/2", true},
      {"unix:path=" + here, false},
      {"unix:path=/nonexistent/wd/bus;unix:path=" + here, false},
      {"unix:abstract=/nonexistent/wd/bus", false},
      {"tcp:host=localhost,port=1", false},
      {"unix:guid=1", false},
      {"unix:path=%zz", false},
      {"", false}};
  for (const auto& [address, gone] : cases)
    EXPECT_EQ(sessionbus::addressIsGone(address), gone) << address;
}

}  // namespace
}  // namespace wd

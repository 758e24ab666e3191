// Real web windows against a loopback HTTPS server: links, script windows, resources,
// certificates, CORS, time-outs, attachment links and what a hostile server can make of them.
#include <algorithm>

#include "core/GLibPtr.h"
#include "core/Settings.h"
#include "shell/BusPeer.h"
#include "shell/window/WebRig.h"

namespace wd::test {
namespace {

namespace fs = std::filesystem;

using Navigation = ClientWindow;

TEST_F(Navigation, LinksOpenInTheBrowserAndThePageStays) {
  open("loaded");
  const std::size_t requests = server->requests().size();
  // The resource reference (query and fragment dropped) was read from public/web.
  EXPECT_EQ(title(), kLoaded);
  auto& opened = app->workspace.opened;
  // The blank page is refused silently; the next link goes to the browser, the page stays.
  click("blank");
  click("out");
  ASSERT_TRUE(waitFor([&] { return !opened.empty(); }));
  EXPECT_EQ(opened, std::vector<std::string>{server->url("127.0.0.1", "/webmail/help.html")});
  // A link for a new window goes to the browser too, and makes no window.
  click("target");
  ASSERT_TRUE(waitFor([&] { return opened.size() == 2; }));
  EXPECT_EQ(opened[1], server->url("localhost", "/new"));
  EXPECT_TRUE(app->delegate->childWindowControllers().empty());
  EXPECT_EQ(title(), kLoaded);
  EXPECT_EQ(server->requests().size(), requests);  // nothing was loaded in the view
}

// Only the application's own page reaches the server (without CORS); an untrusted certificate
// is reported to it until the host is excepted.
TEST_F(Navigation, TheOwnPagesRequestsCertificatesAndTimeOuts) {
  open("loaded");
  const std::string untrusted = server->url("127.0.0.1", "/data");
  run("xhr('" + untrusted + "');");
  ASSERT_TRUE(waitForTitle("error ")) << title();
  const Json data = Json::parse(title().substr(6));
  EXPECT_EQ(data.value("code", ""), "-1202");
  EXPECT_EQ(data.value("url", ""), untrusted);
  EXPECT_EQ(data.value("domain", ""), "NSURLErrorDomain");
  EXPECT_NE(data.value("localizedMessage", "").find("127.0.0.1"), std::string::npos);

  const std::string url = server->url("localhost", "/data");
  const auto timeout = [&](const std::string& set, const char* async) {
    return "var r = new XMLHttpRequest(); " + set + "r.open('GET', '" + url + "', " + async +
           "); document.title = 't ' + r.timeout;";
  };
  const std::pair<std::string, std::string> steps[] = {
      // Other failures stay silent: a refused connection ends the request with status 0 only.
      {"xhr('https://127.0.0.1:1/data');", "xhr 0"},
      {"xhr('" + url + "');", "xhr 200 payload"},
      // An authentication challenge gets no answer (no credentials, no dialog): the request
      // ends as a failed one.
      {"xhr('" + server->url("localhost", "/auth") + "');", "xhr 0"},
      // The time-out: 660 s by default for asynchronous requests, the page's own when set.
      {timeout("", "true"), "t 660000"},
      {timeout("r.timeout = 5; ", "true"), "t 5"},
      {timeout("", "false"), "t 0"},
  };
  for (const auto& [script, expected] : steps) EXPECT_EQ(ask(script), expected) << script;
  EXPECT_EQ(server->requests().back(), "/auth");
  CertificateExceptions::shared().setAllowsAnyCertificate(true, "127.0.0.1");
  EXPECT_EQ(ask("xhr('" + untrusted + "');"), "xhr 200 payload");

  // Another file document, after the application's page in the same view, has no access.
  const fs::path other = fs::path(std::getenv("HOME")) / "elsewhere/page.html";
  writeFile(other,
            "<!doctype html><title>other</title><script>var r = new XMLHttpRequest();"
            " r.onloadend = () => document.title = 'other ' + r.status; r.open('GET', '" +
                url + "'); r.send();</script>");
  GCharPtr uri(g_filename_to_uri(other.c_str(), nullptr, nullptr));
  webkit_web_view_load_uri(window->webView(), uri.get());
  ASSERT_TRUE(waitForTitle("other ")) << title();
  EXPECT_EQ(title(), "other 0");
}

std::string currentFolder(GtkFileChooser* chooser) {
  GCharPtr folder(gtk_file_chooser_get_current_folder(chooser));
  return folder ? folder.get() : "";
}

std::string labelText(GtkWidget* widget) {
  if (GTK_IS_LABEL(widget)) return gtk_label_get_text(GTK_LABEL(widget));
  std::string text;
  g_autoptr(GList) children =
      GTK_IS_CONTAINER(widget) ? gtk_container_get_children(GTK_CONTAINER(widget)) : nullptr;
  for (GList* l = children; l && text.empty(); l = l->next) text = labelText(GTK_WIDGET(l->data));
  return text;
}

// The window's visible download bars: their type, text and the accessible names of their
// visible buttons (sorted); presses the button named `press`.
using Bar = std::tuple<GtkMessageType, std::string, std::vector<std::string>>;
std::vector<Bar> bars(GtkWindow* window, const std::string& press = {}) {
  std::vector<Bar> found;
  GtkWidget* pressed = nullptr;
  g_autoptr(GList) children =
      gtk_container_get_children(GTK_CONTAINER(gtk_bin_get_child(GTK_BIN(window))));
  for (GList* l = children; l; l = l->next) {
    if (!GTK_IS_INFO_BAR(l->data) || !gtk_widget_get_visible(GTK_WIDGET(l->data))) continue;
    auto* bar = GTK_INFO_BAR(l->data);
    std::vector<std::string> names;
    g_autoptr(GList) buttons =
        gtk_container_get_children(GTK_CONTAINER(gtk_info_bar_get_action_area(bar)));
    for (GList* b = buttons; b; b = b->next) {
      if (!gtk_widget_get_visible(GTK_WIDGET(b->data))) continue;
      const char* name = atk_object_get_name(gtk_widget_get_accessible(GTK_WIDGET(b->data)));
      names.emplace_back(name ? name : "");
      if (!press.empty() && names.back() == press) pressed = GTK_WIDGET(b->data);
    }
    std::sort(names.begin(), names.end());
    found.emplace_back(gtk_info_bar_get_message_type(bar),
                       labelText(gtk_info_bar_get_content_area(bar)), names);
  }
  if (pressed) gtk_button_clicked(GTK_BUTTON(pressed));
  return found;
}

// A mail server the user trusts, serving what a stranger's message points at: the engine never
// saves a file by itself and the page is never replaced. An attachment link is saved where the
// user chooses.
TEST_F(Navigation, StrangersMailChangesNoFileAndAnAttachmentIsSavedWhereTheUserChooses) {
  const std::string source = "/webmail/api/download/source/";
  server->route(source + "notes.txt", {.body = "the sender's notes", .filename = "notes.txt"});
  server->route(source + "profile", {.contentType = "application/octet-stream", .body = "x"});
  server->route(kAttachment + "9/report.pdf", {.body = "attachment body", .filename = "other.pdf"});
  CertificateExceptions::shared().setAllowsAnyCertificate(true, "localhost");
  UserDefaults::standard().removeObjectForKey(Settings::kDestinationDownload);
  const fs::path home = fs::canonical(std::getenv("HOME")), saved = home / "saved",
                 downloads = home / "Downloads";
  fs::remove_all(saved);
  fs::create_directories(saved);
  // ~/Downloads, holding the user's notes, is the desktop's download folder.
  writeFile(downloads / "notes.txt", "the user's notes");
  writeFile(fs::path(g_get_user_config_dir()) / "user-dirs.dirs",
            "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n");
  g_reload_user_special_dirs_cache();
  open("loaded");
  const std::string notes = server->url("localhost", source + "notes.txt");
  const std::string profile = server->url("localhost", source + "profile");
  const auto frame = [](const std::string& url) {
    return "var f = document.createElement('iframe'); f.src = '" + url +
           "'; document.body.appendChild(f);";
  };
  // Script and the path the server sees (none: a download link, cancelled around its request).
  const std::pair<std::string, std::string> cases[] = {
      {frame(notes), source + "notes.txt"},  // a frame answered with an attachment
      {frame(profile), source + "profile"},  // a type the engine cannot show
      {"location.href = '" + notes + "';", source + "notes.txt"},
      {"var a = document.createElement('a'); a.href = '" + profile +
           "'; a.download = 'profile'; document.body.appendChild(a); a.click();",
       ""}};
  for (const auto& [script, path] : cases) {
    SCOPED_TRACE(script);
    const std::string requested = path;
    const std::size_t before = server->requests().size();
    run(script);
    if (!requested.empty()) {
      EXPECT_TRUE(waitFor([&] {
        return std::find(server->requests().begin() + before, server->requests().end(),
                         requested) != server->requests().end();
      }));
    }
    runLoopFor(1);  // what the engine would do with the answer happens now
    EXPECT_EQ(title(), kLoaded);
    EXPECT_TRUE(app->workspace.opened.empty());
    EXPECT_TRUE(toplevels(GTK_TYPE_FILE_CHOOSER_DIALOG).empty());
  }
  // Nothing written: the user's file as it was, no new file in the download folder or home.
  EXPECT_EQ(std::distance(fs::directory_iterator(downloads), fs::directory_iterator()), 1);
  EXPECT_EQ(readFile(downloads / "notes.txt"), "the user's notes");
  EXPECT_FALSE(fs::exists(home / "profile"));
  EXPECT_FALSE(fs::exists(home / "notes.txt"));

  GtkWindow* w = window->gtkWindow();
  // Saved into "saved"; cancelled: nothing changes; a failure shows in the window.
  const std::tuple<std::string, fs::path, const char*, bool> steps[] = {
      {"attachment", downloads, "report.pdf", true},
      {"attachment", saved, "report.pdf", false},
      {"missing", saved, "gone.pdf", true}};
  for (const auto& [link, folder, suggested, accept] : steps) {
    SCOPED_TRACE(link);
    const std::string opensIn = folder.string();  // clang 14 captures no binding
    click(link);
    GtkWidget* d = waitForDialog(GTK_TYPE_FILE_CHOOSER_DIALOG);  // on this window
    ASSERT_NE(d, nullptr);
    auto* fc = GTK_FILE_CHOOSER(d);
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(d)), "Save Attachment");
    EXPECT_TRUE(waitFor([&] { return currentFolder(fc) == opensIn; })) << currentFolder(fc);
    EXPECT_STREQ(GCharPtr(gtk_file_chooser_get_current_name(fc)).get(), suggested);
    if (!accept) {
      gtk_dialog_response(GTK_DIALOG(d), GTK_RESPONSE_CANCEL);
      EXPECT_TRUE(waitForNoDialog(GTK_TYPE_FILE_CHOOSER_DIALOG));
      continue;
    }
    gtk_file_chooser_set_current_folder(fc, saved.c_str());
    EXPECT_TRUE(waitFor([&] { return currentFolder(fc) == saved.string(); }));
    // The chooser checks the name asynchronously and may drop that check when its folder
    // reloads meanwhile, leaving the dialog up; a user presses again then.
    for (int i = 0; i < 10 && !dialogs(GTK_TYPE_FILE_CHOOSER_DIALOG).empty(); ++i) {
      gtk_dialog_response(GTK_DIALOG(d), GTK_RESPONSE_ACCEPT);
      waitFor([&] { return dialogs(GTK_TYPE_FILE_CHOOSER_DIALOG).empty(); }, 3);
    }
    if (link != "attachment") continue;
    // A saved file offers Open and Show in Folder: the file manager shows the file; without
    // one on the bus, the folder opens with its default application.
    const std::vector<Bar> done{{GTK_MESSAGE_INFO,
                                 "\u201creport.pdf\u201d is downloaded",
                                 {"Close", "Open", "Show in Folder"}}};
    ASSERT_TRUE(waitFor([&] { return bars(w) == done; })) << ::testing::PrintToString(bars(w));
    bars(w, "Open");
    std::string shown;  // the call's parameters
    auto fileManager = std::make_unique<BusPeer>();
    ASSERT_TRUE(fileManager->serve(
        "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
        "<node><interface name='org.freedesktop.FileManager1'><method name='ShowItems'>"
        "<arg type='as' direction='in'/><arg type='s' direction='in'/></method></interface></node>",
        +[](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
            GVariant* parameters, GDBusMethodInvocation* call, gpointer out) {
          *static_cast<std::string*>(out) = GCharPtr(g_variant_print(parameters, FALSE)).get();
          g_dbus_method_invocation_return_value(call, nullptr);
        },
        &shown));
    bars(w, "Show in Folder");
    GCharPtr uri(g_filename_to_uri((saved / "report.pdf").c_str(), nullptr, nullptr));
    EXPECT_TRUE(waitFor([&] { return !shown.empty(); }));
    EXPECT_EQ(shown, "(['" + std::string(uri.get()) + "'], '')");
    fileManager.reset();  // gone from the bus
    bars(w, "Show in Folder");
    EXPECT_TRUE(waitFor([&] { return app->workspace.files.size() == 2; }));
    EXPECT_EQ(app->workspace.files,
              (std::vector<std::string>{(saved / "report.pdf").string(), saved.string()}));
  }
  // The failure replaces the last outcome in the window's one bar: the reason once, Retry.
  const std::vector<Bar> failed{
      {GTK_MESSAGE_ERROR,
       "\u201cgone.pdf\u201d could not be downloaded: the server answered 404 Not Found",
       {"Close", "Retry"}}};
  EXPECT_TRUE(waitFor([&] { return bars(w) == failed; })) << ::testing::PrintToString(bars(w));
  // Retry fetches the same file to the same place; the bar then says it is saved.
  server->route(kAttachment + "10/gone.pdf", {.body = "back"});
  bars(w, "Retry");
  const std::vector<Bar> back{{GTK_MESSAGE_INFO,
                               "\u201cgone.pdf\u201d is downloaded",
                               {"Close", "Open", "Show in Folder"}}};
  EXPECT_TRUE(waitFor([&] { return bars(w) == back; })) << ::testing::PrintToString(bars(w));
  bars(w, "Close");
  EXPECT_TRUE(waitFor([&] { return bars(w).empty(); }));
  fs::remove(saved / "gone.pdf");
  // Written to the chosen path (not the server's suggested name), the folder remembered (it
  // wins over the desktop's download folder), the page left as it was, nothing for the browser.
  EXPECT_EQ(readFile(saved / "report.pdf"), "attachment body");
  EXPECT_EQ(std::distance(fs::directory_iterator(saved), fs::directory_iterator()), 1);
  EXPECT_EQ(UserDefaults::standard().stringForKey(Settings::kDestinationDownload), saved.string());
  EXPECT_EQ(title(), kLoaded);
  EXPECT_TRUE(app->workspace.opened.empty());
}

}  // namespace
}  // namespace wd::test

// Real web windows on the test session's display against a loopback HTTPS server: links leave
// for the default browser while windows opened by script stay in the application, the page's
// "/webmail/resource/" files come from the web client folder, an untrusted certificate raises
// "connectionError" until the host is excepted, the application's own page (and no other file
// document) reaches the server without CORS, requests get the 660 s default time-out, and an
// authentication challenge is not answered, and an attachment link is saved where the user
// chooses in a save dialog on the window.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>

#include "core/CertificateExceptions.h"
#include "core/GLibPtr.h"
#include "core/Settings.h"
#include "shell/NotificationDaemon.h"  // waitFor
#include "shell/PageServer.h"
#include "shell/RealWindows.h"
#include "shell/window/WebClient.h"
#include "support/Files.h"

namespace wd::test {
namespace {

namespace fs = std::filesystem;

const std::string kAttachment = "/webmail/api/download/attachment/";

// A launched application over doubles with real web windows, a web client folder of its own
// and the HTTPS server: "localhost" is trusted by the engine, 127.0.0.1 is not.
class Navigation : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
    client = fs::path(std::getenv("HOME")) / "client";
    fs::remove_all(client);
    server = std::make_unique<PageServer>(std::getenv("HOME"));
    ASSERT_TRUE(server->ok()) << server->error();
    server->route("/data", {200, "text/plain", "payload"});
    server->route("/auth", {200, "text/plain", "secret", true});
    writeFile(client / "public/index.html", R"(<!doctype html><html><head><title>start</title>
<script src="/webmail/resource/lib/x.js?v=2#top"></script></head><body>
<a id="out" href=")" + server->url("127.0.0.1", "/webmail/help.html") +
                                                R"(">out</a>
<a id="blank" href=")" + server->url("127.0.0.1", "/webmail/blank.html") +
                                                R"(">blank</a>
<a id="target" target="_blank" href=")" + server->url("localhost", "/new") +
                                                R"(">new</a>
<a id="attachment" href=")" + server->url("localhost", kAttachment + "9/report.pdf") +
                                                R"(">attachment</a>
<a id="missing" href=")" + server->url("localhost", kAttachment + "10/gone.pdf") +
                                                R"(">missing</a>
<script>
// A certificate report wins over the end of the request it belongs to, whichever comes first.
document.addEventListener('connectionError', function (e) {
  window.reported = true;
  document.title = 'error ' + JSON.stringify(e.data);
});
function xhr(url) {
  window.reported = false;
  var r = new XMLHttpRequest();
  r.onloadend = function () {
    if (!window.reported) document.title = 'xhr ' + r.status + ' ' + r.responseText;
  };
  r.open('GET', url);
  r.send();
}
document.title = 'loaded ' + (window.mapped || 'unmapped');
</script></body></html>)");
    writeFile(client / "public/web/webmail/resource/lib/x.js", "window.mapped = 'mapped';");
    webclient::setDirectory(client);
    // WebKit starts before the doubles' headless JavaScriptCore pages: when JavaScriptCore is
    // first set up by the harness, the engine's messages are never dispatched in this process.
    g_object_unref(g_object_ref_sink(webkit_web_view_new()));
    app = std::make_unique<RealWindowsApp>();
    // The engine takes the server's certificate for "localhost" (a trusted server).
    webkit_web_context_allow_tls_certificate_for_host(app->web.context(), server->certificate(),
                                                      "localhost");
  }
  void TearDown() override {
    window.reset();
    app.reset();
    CertificateExceptions::shared().clear();
    webclient::setDirectory({});
  }

  // Opens a window on `url` and waits until its title begins with `title`.
  void open(const std::string& url, const std::string& title) {
    window = WindowController::initWithRequest(app->env, url);
    window->makeKeyAndOrderFront();
    ASSERT_TRUE(waitForTitle(title)) << this->title();
  }
  std::string title() const {
    const char* t = window ? webkit_web_view_get_title(window->webView()) : nullptr;
    return t ? t : "";
  }
  bool waitForTitle(const std::string& prefix) {
    return waitFor([&] { return title().rfind(prefix, 0) == 0; });
  }
  // Runs `script` in the page (the test's own access, not the application's).
  void run(const std::string& script) {
    webkit_web_view_evaluate_javascript(window->webView(), script.c_str(), -1, nullptr, nullptr,
                                        nullptr, nullptr, nullptr);
  }
  // Runs `script`, which sets the title, and answers the title.
  std::string ask(const std::string& script) {
    run("document.title = 'asking';");
    EXPECT_TRUE(waitForTitle("asking"));
    run(script);
    EXPECT_TRUE(waitFor([&] { return title() != "asking"; })) << script;
    return title();
  }

  fs::path client;
  std::unique_ptr<PageServer> server;
  std::unique_ptr<RealWindowsApp> app;
  std::shared_ptr<WindowController> window;
};

TEST_F(Navigation, LinksOpenInTheBrowserAndScriptWindowsStay) {
  open(webclient::fileURL("public/index.html"), "loaded");
  // The resource reference (query and fragment dropped) was read from public/web.
  EXPECT_EQ(title(), "loaded mapped");
  auto& opened = app->workspace.opened;
  // The blank page is refused silently; the next link goes to the browser, the page stays.
  run("document.getElementById('blank').click(); document.getElementById('out').click();");
  ASSERT_TRUE(waitFor([&] { return !opened.empty(); }));
  EXPECT_EQ(opened, std::vector<std::string>{server->url("127.0.0.1", "/webmail/help.html")});
  // A link for a new window goes to the browser too, and makes no window.
  run("document.getElementById('target').click();");
  ASSERT_TRUE(waitFor([&] { return opened.size() == 2; }));
  EXPECT_EQ(opened[1], server->url("localhost", "/new"));
  EXPECT_TRUE(app->delegate->childWindowControllers().empty());
  // A window opened by the page's script is a secondary web window.
  run("window.open('about:blank', 'child', 'width=300,height=200');");
  EXPECT_TRUE(waitFor([&] { return app->delegate->childWindowControllers().size() == 1; }));
  EXPECT_EQ(opened.size(), 2u);
  EXPECT_EQ(title(), "loaded mapped");
  EXPECT_TRUE(server->requests().empty());  // nothing was loaded in the view
}

TEST_F(Navigation, AnUntrustedCertificateIsReportedUntilTheHostIsExcepted) {
  open(webclient::fileURL("public/index.html"), "loaded");
  const std::string url = server->url("127.0.0.1", "/data");
  run("xhr('" + url + "');");
  ASSERT_TRUE(waitForTitle("error ")) << title();
  const Json data = Json::parse(title().substr(6));
  EXPECT_EQ(data.value("code", ""), "-1202");
  EXPECT_EQ(data.value("url", ""), url);
  EXPECT_EQ(data.value("domain", ""), "NSURLErrorDomain");
  EXPECT_NE(data.value("localizedMessage", "").find("127.0.0.1"), std::string::npos);
  // Other failures stay silent: a refused connection ends the request with status 0 only.
  EXPECT_EQ(ask("xhr('https://127.0.0.1:1/data');"), "xhr 0");

  CertificateExceptions::shared().setAllowsAnyCertificate(true, "127.0.0.1");
  EXPECT_EQ(ask("xhr('" + url + "');"), "xhr 200 payload");
}

TEST_F(Navigation, TheOwnPageReachesTheServerWithoutCorsWithTheDefaultTimeOut) {
  open(webclient::fileURL("public/index.html"), "loaded");
  const std::string url = server->url("localhost", "/data");
  EXPECT_EQ(ask("xhr('" + url + "');"), "xhr 200 payload");
  EXPECT_EQ(ask("fetch('" + url +
                "').then(r => r.text()).then(t => document.title = 'fetch ' + t,"
                " e => document.title = 'fetch failed ' + e);"),
            "fetch payload");
  // An authentication challenge gets no answer (no credentials, no dialog): the request ends
  // as a failed one.
  EXPECT_EQ(ask("xhr('" + server->url("localhost", "/auth") + "');"), "xhr 0");
  EXPECT_EQ(server->requests().back(), "/auth");
  // The request time-out: 660 s by default for asynchronous requests, the page's own when set.
  EXPECT_EQ(ask("var r = new XMLHttpRequest(); r.open('GET', '" + url +
                "'); document.title = 't ' + r.timeout;"),
            "t 660000");
  EXPECT_EQ(ask("var r = new XMLHttpRequest(); r.timeout = 5; r.open('GET', '" + url +
                "'); document.title = 't ' + r.timeout;"),
            "t 5");
  EXPECT_EQ(ask("var r = new XMLHttpRequest(); r.open('GET', '" + url +
                "', false); document.title = 't ' + r.timeout;"),
            "t 0");
}

TEST_F(Navigation, AnotherFileDocumentHasNoAccessToTheServer) {
  const fs::path other = fs::path(std::getenv("HOME")) / "elsewhere/page.html";
  writeFile(other,
            "<!doctype html><title>other</title><script>"
            "var r = new XMLHttpRequest(); r.onloadend = function () { document.title ="
            " 'xhr ' + r.status + ' ' + r.responseText; }; r.open('GET', '" +
                server->url("localhost", "/data") + "'); r.send();</script>");
  // After the application's page, in the same view.
  open(webclient::fileURL("public/index.html"), "loaded");
  gchar* uri = g_filename_to_uri(other.c_str(), nullptr, nullptr);
  webkit_web_view_load_uri(window->webView(), uri);
  g_free(uri);
  ASSERT_TRUE(waitForTitle("xhr ")) << title();
  EXPECT_EQ(title(), "xhr 0");
}

GtkFileChooserDialog* shownChooser() {
  GtkFileChooserDialog* found = nullptr;
  GList* all = gtk_window_list_toplevels();
  for (GList* l = all; l; l = l->next)
    if (GTK_IS_FILE_CHOOSER_DIALOG(l->data) && gtk_widget_get_visible(GTK_WIDGET(l->data)))
      found = GTK_FILE_CHOOSER_DIALOG(l->data);
  g_list_free(all);
  return found;
}

std::string currentFolder(GtkFileChooser* chooser) {
  gchar* folder = gtk_file_chooser_get_current_folder(chooser);
  std::string out = folder ? folder : "";
  g_free(folder);
  return out;
}

// The first label's text inside `widget`.
std::string labelText(GtkWidget* widget) {
  if (GTK_IS_LABEL(widget)) return gtk_label_get_text(GTK_LABEL(widget));
  std::string text;
  if (GTK_IS_CONTAINER(widget)) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
    for (GList* l = children; l && text.empty(); l = l->next) text = labelText(GTK_WIDGET(l->data));
    g_list_free(children);
  }
  return text;
}

// The text of the window's download message, when it shows one of this type.
std::string infoBarText(GtkWindow* window, GtkMessageType type) {
  std::string text;
  GList* children = gtk_container_get_children(GTK_CONTAINER(gtk_bin_get_child(GTK_BIN(window))));
  for (GList* l = children; l; l = l->next)
    if (GTK_IS_INFO_BAR(l->data) && gtk_info_bar_get_message_type(GTK_INFO_BAR(l->data)) == type)
      text = labelText(gtk_info_bar_get_content_area(GTK_INFO_BAR(l->data)));
  g_list_free(children);
  return text;
}

// The window's download bars.
std::vector<GtkInfoBar*> infoBars(GtkWindow* window) {
  std::vector<GtkInfoBar*> bars;
  GList* children = gtk_container_get_children(GTK_CONTAINER(gtk_bin_get_child(GTK_BIN(window))));
  for (GList* l = children; l; l = l->next)
    if (GTK_IS_INFO_BAR(l->data) && gtk_widget_get_visible(GTK_WIDGET(l->data)))
      bars.push_back(GTK_INFO_BAR(l->data));
  g_list_free(children);
  return bars;
}

// The accessible names of the bar's visible buttons (sorted), and presses the one named `press`.
std::vector<std::string> barButtons(GtkWindow* window, const std::string& press = {}) {
  std::vector<std::string> names;
  GtkWidget* pressed = nullptr;
  for (GtkInfoBar* bar : infoBars(window)) {
    GList* buttons = gtk_container_get_children(GTK_CONTAINER(gtk_info_bar_get_action_area(bar)));
    for (GList* l = buttons; l; l = l->next) {
      if (!gtk_widget_get_visible(GTK_WIDGET(l->data))) continue;
      const char* name = atk_object_get_name(gtk_widget_get_accessible(GTK_WIDGET(l->data)));
      names.emplace_back(name ? name : "");
      if (name && name == press) pressed = GTK_WIDGET(l->data);
    }
    g_list_free(buttons);
  }
  if (pressed) gtk_button_clicked(GTK_BUTTON(pressed));
  std::sort(names.begin(), names.end());
  return names;
}

// A stand-in for the desktop's file manager on the test session bus (its own connection, as a
// separate process would have): org.freedesktop.FileManager1 answering ShowItems with an empty
// reply, as file managers do, and recording the URIs it was asked to show.
class FileManagerStandIn {
 public:
  FileManagerStandIn() {
    GCharPtr address(g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    if (!address) return;
    connection_ = g_dbus_connection_new_for_address_sync(
        address.get(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (!connection_) return;
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(
        "<node><interface name='org.freedesktop.FileManager1'><method name='ShowItems'>"
        "<arg type='as' direction='in'/><arg type='s' direction='in'/></method></interface>"
        "</node>",
        nullptr);
    static const GDBusInterfaceVTable vtable = {
        +[](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
            GVariant* params, GDBusMethodInvocation* invocation, gpointer self) {
          GVariantIter* uris = nullptr;
          const gchar* startup = nullptr;
          g_variant_get(params, "(as&s)", &uris, &startup);
          const gchar* uri = nullptr;
          while (g_variant_iter_next(uris, "&s", &uri))
            static_cast<FileManagerStandIn*>(self)->shown.emplace_back(uri);
          g_variant_iter_free(uris);
          g_dbus_method_invocation_return_value(invocation, nullptr);
        },
        nullptr,
        nullptr,
        {}};
    registration_ =
        g_dbus_connection_register_object(connection_, "/org/freedesktop/FileManager1",
                                          node->interfaces[0], &vtable, this, nullptr, nullptr);
    g_dbus_node_info_unref(node);
    owner_ = g_bus_own_name_on_connection(
        connection_, "org.freedesktop.FileManager1", G_BUS_NAME_OWNER_FLAGS_NONE,
        +[](GDBusConnection*, const gchar*, gpointer self) {
          static_cast<FileManagerStandIn*>(self)->owned = true;
        },
        nullptr, this, nullptr);
    waitFor([this] { return owned; });
  }
  ~FileManagerStandIn() {
    if (!connection_) return;
    if (owner_) g_bus_unown_name(owner_);
    if (registration_) g_dbus_connection_unregister_object(connection_, registration_);
    g_dbus_connection_close_sync(connection_, nullptr, nullptr);
    g_object_unref(connection_);
  }
  FileManagerStandIn(const FileManagerStandIn&) = delete;
  FileManagerStandIn& operator=(const FileManagerStandIn&) = delete;

  bool owned = false;
  std::vector<std::string> shown;

 private:
  GDBusConnection* connection_ = nullptr;
  guint registration_ = 0, owner_ = 0;
};

// Makes ~/Downloads the desktop's download folder (the user-dirs file) and answers it.
fs::path useDownloadsFolder() {
  const fs::path home = fs::canonical(std::getenv("HOME")), downloads = home / "Downloads";
  fs::create_directories(downloads);
  writeFile(fs::path(g_get_user_config_dir()) / "user-dirs.dirs",
            "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n");
  g_reload_user_special_dirs_cache();
  return downloads;
}

TEST_F(Navigation, AnAttachmentLinkIsSavedWhereTheUserChooses) {
  server->route(kAttachment + "9/report.pdf", {.body = "attachment body", .filename = "other.pdf"});
  CertificateExceptions::shared().setAllowsAnyCertificate(true, "localhost");
  UserDefaults::standard().removeObjectForKey(Settings::kDestinationDownload);
  const fs::path home = fs::canonical(std::getenv("HOME")), saved = home / "saved";
  fs::remove_all(saved);
  fs::create_directories(saved);
  const fs::path downloads = useDownloadsFolder();
  open(webclient::fileURL("public/index.html"), "loaded");
  struct Step {
    const char* link;
    fs::path opensIn;
    const char* name;
    bool accept;
  };
  const Step steps[] = {
      {"attachment", downloads, "report.pdf", true},  // saved into "saved"
      {"attachment", saved, "report.pdf", false},     // cancelled: nothing changes
      {"missing", saved, "gone.pdf", true},           // the failure shows in the window
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.link);
    run(std::string("document.getElementById('") + step.link + "').click();");
    ASSERT_TRUE(waitFor([] { return shownChooser() != nullptr; }));
    GtkFileChooserDialog* d = shownChooser();
    auto* fc = GTK_FILE_CHOOSER(d);
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(d)), window->gtkWindow());
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(d)), "Save Attachment");
    EXPECT_TRUE(waitFor([&] { return currentFolder(fc) == step.opensIn.string(); }))
        << currentFolder(fc);
    gchar* name = gtk_file_chooser_get_current_name(fc);
    EXPECT_STREQ(name, step.name);
    g_free(name);
    if (!step.accept) {
      gtk_dialog_response(GTK_DIALOG(d), GTK_RESPONSE_CANCEL);
      EXPECT_TRUE(waitFor([] { return shownChooser() == nullptr; }));
      continue;
    }
    gtk_file_chooser_set_current_folder(fc, saved.c_str());
    EXPECT_TRUE(waitFor([&] { return currentFolder(fc) == saved.string(); }));
    // The chooser checks the name asynchronously and may drop that check when its folder
    // reloads meanwhile, leaving the dialog up; a user presses again then.
    for (int attempt = 0; attempt < 10 && shownChooser(); ++attempt) {
      gtk_dialog_response(GTK_DIALOG(d), GTK_RESPONSE_ACCEPT);
      waitFor([] { return shownChooser() == nullptr; }, 3);
    }
    if (step.link != std::string("attachment")) continue;
    // A saved file offers Open and Show in Folder: the file manager shows the file; without
    // one on the bus, the folder opens with its default application.
    GtkWindow* w = window->gtkWindow();
    ASSERT_TRUE(waitFor([&] {
      return infoBarText(w, GTK_MESSAGE_INFO) == "\u201creport.pdf\u201d is downloaded";
    })) << infoBarText(w, GTK_MESSAGE_INFO);
    EXPECT_EQ(barButtons(w, "Open"), (std::vector<std::string>{"Close", "Open", "Show in Folder"}));
    {
      FileManagerStandIn fileManager;
      ASSERT_TRUE(fileManager.owned);
      barButtons(w, "Show in Folder");
      GCharPtr uri(g_filename_to_uri((saved / "report.pdf").c_str(), nullptr, nullptr));
      EXPECT_TRUE(waitFor([&] { return !fileManager.shown.empty(); }));
      EXPECT_EQ(fileManager.shown, std::vector<std::string>{uri.get()});
    }
    barButtons(w, "Show in Folder");
    EXPECT_TRUE(waitFor([&] { return app->workspace.files.size() == 2; }));
    EXPECT_EQ(app->workspace.files,
              (std::vector<std::string>{(saved / "report.pdf").string(), saved.string()}));
  }
  // The failure replaces the last outcome in the window's one bar: the reason once, Retry.
  GtkWindow* w = window->gtkWindow();
  EXPECT_TRUE(waitFor([&] { return !infoBarText(w, GTK_MESSAGE_ERROR).empty(); }));
  EXPECT_EQ(infoBarText(w, GTK_MESSAGE_ERROR),
            "\u201cgone.pdf\u201d could not be downloaded: the server answered 404 Not Found");
  EXPECT_EQ(infoBars(w).size(), 1u);
  // Retry fetches the same file to the same place; the bar then says it is saved.
  server->route(kAttachment + "10/gone.pdf", {.body = "back"});
  EXPECT_EQ(barButtons(w, "Retry"), (std::vector<std::string>{"Close", "Retry"}));
  EXPECT_TRUE(waitFor(
      [&] { return infoBarText(w, GTK_MESSAGE_INFO) == "\u201cgone.pdf\u201d is downloaded"; }));
  EXPECT_EQ(infoBars(w).size(), 1u);
  barButtons(w, "Close");
  EXPECT_TRUE(waitFor([&] { return infoBars(w).empty(); }));
  fs::remove(saved / "gone.pdf");
  // Written to the chosen path (not the server's suggested name), the folder remembered, the
  // page left as it was and nothing handed to the browser. The folder remembered wins over the
  // desktop's download folder.
  std::ifstream in(saved / "report.pdf");
  std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(body, "attachment body");
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(saved)) files.push_back(entry.path());
  EXPECT_EQ(files, std::vector<fs::path>{saved / "report.pdf"});
  EXPECT_EQ(UserDefaults::standard().stringForKey(Settings::kDestinationDownload), saved.string());
  EXPECT_EQ(title(), "loaded mapped");
  EXPECT_TRUE(app->workspace.opened.empty());
}

// A mail server the user trusts, serving what a stranger's message points at: the engine never
// saves a file by itself, an escaped segment never replaces the page, and a host that only
// begins with the feedback host goes to the browser.
TEST_F(Navigation, StrangersMailChangesNoFileAndNeverReplacesThePage) {
  const fs::path downloads = useDownloadsFolder();
  writeFile(downloads / "notes.txt", "the user's notes");
  const std::string source = "/webmail/api/download/source/";
  server->route(source + "notes.txt", {.body = "the sender's notes", .filename = "notes.txt"});
  server->route(source + "profile", {.contentType = "application/octet-stream", .body = "x"});
  server->route(source + "evil.html", {.contentType = "text/html", .body = "<title>evil</title>"});
  open(webclient::fileURL("public/index.html"), "loaded");
  const std::string notes = server->url("localhost", source + "notes.txt");
  const std::string profile = server->url("localhost", source + "profile");
  const std::string escaped =
      server->url("localhost", kAttachment + "7/..%2F..%2Fsource%2Fevil.html");
  const std::string lookAlike = "http://feedback.wendrel.com.example.test/x";
  const auto frame = [](const std::string& url) {
    return "var f = document.createElement('iframe'); f.src = '" + url +
           "'; document.body.appendChild(f);";
  };
  struct Case {
    const char* what;
    std::string script;
    std::string requested;  // the path the server sees, empty: none
    std::vector<std::string> opened;
  } cases[] = {
      {"a frame answered with an attachment", frame(notes), source + "notes.txt", {}},
      {"a frame of a type the engine cannot show", frame(profile), source + "profile", {}},
      {"the page answered with an attachment",
       "location.href = '" + notes + "';",
       source + "notes.txt",
       {}},
      {"a download link",
       "var a = document.createElement('a'); a.href = '" + profile +
           "'; a.download = 'profile'; document.body.appendChild(a); a.click();",
       "",
       {}},  // cancelled before or after its request
      {"escaped segments out of an attachment path", "location.href = '" + escaped + "';", "", {}},
      {"a host that begins with the feedback host",
       "location.href = '" + lookAlike + "';",
       "",
       {lookAlike}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::size_t before = server->requests().size();
    app->workspace.opened.clear();
    run(c.script);
    if (!c.requested.empty()) {
      EXPECT_TRUE(waitFor([&] {
        return std::find(server->requests().begin() + before, server->requests().end(),
                         c.requested) != server->requests().end();
      }));
    }
    waitFor([] { return false; }, 1);  // what the engine would do with the answer happens now
    EXPECT_EQ(title(), "loaded mapped");
    EXPECT_EQ(app->workspace.opened, c.opened);
    EXPECT_EQ(shownChooser(), nullptr);
  }
  // Nothing written: the user's file as it was, no new file in the download folder or home.
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(downloads))
    names.push_back(entry.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"notes.txt"});
  std::ifstream in(downloads / "notes.txt");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "the user's notes");
  EXPECT_FALSE(fs::exists(fs::path(std::getenv("HOME")) / "profile"));
  EXPECT_FALSE(fs::exists(fs::path(std::getenv("HOME")) / "notes.txt"));
  for (const auto& path : server->requests()) EXPECT_EQ(path.find("evil"), std::string::npos);
}

}  // namespace
}  // namespace wd::test

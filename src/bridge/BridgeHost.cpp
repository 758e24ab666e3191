#include "bridge/BridgeHost.h"

#include <gio/gio.h>
#include <glib-unix.h>
#include <glib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "bridge/HostEndpoint.h"
#include "bridge/SocketConnection.h"
#include "core/Log.h"
#include "wd/Version.h"

namespace wd::bridge {

namespace fs = std::filesystem;

namespace {

constexpr const char* kModuleFile = "libwendrel-webext.so";

// Native code scripts the view's current main document only while that document is one that
// may receive MacGap: events and callbacks carry application data (settings, account details)
// that a foreign document the view navigated to must not see.
class ViewPage : public ScriptPage {
 public:
  explicit ViewPage(std::uint64_t pageId) : pageId_(pageId) {}
  void evaluateScript(const std::string& script) override {
    if (auto ep = endpoint()) ep->evaluate(pageId_, script);
  }
  void callFunction(const std::string& name, std::vector<Value> args) override {
    if (auto ep = endpoint()) ep->callGlobal(pageId_, name, std::move(args));
  }
  std::shared_ptr<HostEndpoint> endpoint() const {
    return attached_ && allowed_ ? endpoint_.lock() : nullptr;
  }
  void bind(const std::shared_ptr<HostEndpoint>& ep) { endpoint_ = ep; }
  // A new main document: whether it may be scripted.
  void setDocumentAllowed(bool allowed) { allowed_ = allowed; }
  void detach() { attached_ = false; }

 private:
  std::uint64_t pageId_;
  std::weak_ptr<HostEndpoint> endpoint_;
  bool attached_ = true;
  bool allowed_ = true;
};

std::string randomToken() {
  std::string token;
  for (int i = 0; i < 4; ++i) {
    char part[16];
    std::snprintf(part, sizeof part, "%08x", g_random_int());
    token += part;
  }
  return token;
}

}  // namespace

struct BridgeHost::Impl : HostEndpoint::Delegate {
  struct Record {
    WebKitWebView* view = nullptr;
    Installer installer;
    FrameLoadedHandler frameLoaded;
    std::shared_ptr<ViewPage> page;
  };

  std::string dir;
  std::string path;
  std::string token;
  int listenFd = -1;
  guint listenSource = 0;
  guint pruneSource = 0;  // drops closed connections on the next loop iteration
  std::vector<std::shared_ptr<SocketConnection>> connections;
  std::unordered_map<std::uint64_t, Record> pages;
  DocumentPolicy policy;

  bool listen() {
    if (listenFd >= 0) return true;
    GError* error = nullptr;
    gchar* tmp = g_dir_make_tmp("wendrel-bridge-XXXXXX", &error);  // mode 0700
    if (!tmp) {
      WD_LOG_DEBUG("bridge socket directory: {}", error ? error->message : "");
      g_clear_error(&error);
      return false;
    }
    dir = tmp;
    g_free(tmp);
    path = dir + "/bridge.sock";
    token = randomToken();
    sockaddr_un addr{};
    if (path.size() >= sizeof(addr.sun_path)) return false;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.data(), path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::listen(fd, 16) != 0) {
      ::close(fd);
      return false;
    }
    listenFd = fd;
    listenSource = g_unix_fd_add(fd, G_IO_IN, &Impl::onAccept, this);
    return true;
  }

  static gboolean onAccept(gint fd, GIOCondition, gpointer data) {
    auto* self = static_cast<Impl*>(data);
    for (;;) {
      const int client = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) break;
      self->adopt(client);
    }
    return G_SOURCE_CONTINUE;
  }

  void adopt(int fd) {
    auto conn = std::make_shared<SocketConnection>(fd);
    std::weak_ptr<SocketConnection> weak = conn;
    auto endpoint = std::make_shared<HostEndpoint>(
        [weak](std::string frame) {
          if (auto c = weak.lock()) c->write(std::move(frame));
        },
        this, token);
    endpoint->setOnClose([weak] {
      if (auto c = weak.lock()) c->close();
    });
    conn->setEndpoint(endpoint);
    conn->setOnClosed([this] {
      // Removed on the next loop iteration: the connection may be on the stack. The source is
      // removed with the host, so it never runs on a destroyed one.
      if (pruneSource) return;
      pruneSource = g_idle_add(
          [](gpointer d) -> gboolean {
            auto* impl = static_cast<Impl*>(d);
            impl->pruneSource = 0;
            auto& c = impl->connections;
            c.erase(std::remove_if(c.begin(), c.end(), [](auto& x) { return !x->isOpen(); }),
                    c.end());
            return G_SOURCE_REMOVE;
          },
          this);
    });
    connections.push_back(conn);
    conn->start();
  }

  Record* record(std::uint64_t pageId) {
    auto it = pages.find(pageId);
    return it == pages.end() ? nullptr : &it->second;
  }

  std::optional<InstallSet> contextCreated(HostEndpoint& ep, std::uint64_t pageId,
                                           const std::string& url) override {
    Record* rec = record(pageId);
    if (!rec) return std::nullopt;
    rec->page->bind(ep.shared_from_this());
    const bool allowed = policy && policy(url);
    rec->page->setDocumentAllowed(allowed);
    if (!allowed) return std::nullopt;
    Installer installer = rec->installer;  // the installer may detach the view
    return installer ? installer(url) : std::nullopt;
  }

  void frameLoaded(HostEndpoint& ep, std::uint64_t pageId, bool mainFrame,
                   const std::string& url) override {
    Record* rec = record(pageId);
    if (!rec) return;
    rec->page->bind(ep.shared_from_this());
    FrameLoadedHandler handler = rec->frameLoaded;
    if (handler) handler(mainFrame, url);
  }

  std::shared_ptr<ScriptPage> page(std::uint64_t pageId) override {
    Record* rec = record(pageId);
    return rec ? rec->page : nullptr;
  }
};

BridgeHost& BridgeHost::shared() {
  static BridgeHost* host = new BridgeHost();  // lives for the process
  return *host;
}

BridgeHost::BridgeHost() : impl_(std::make_unique<Impl>()) {}

BridgeHost::~BridgeHost() {
  if (impl_->listenSource) g_source_remove(impl_->listenSource);
  if (impl_->pruneSource) g_source_remove(impl_->pruneSource);
  if (impl_->listenFd >= 0) ::close(impl_->listenFd);
  auto conns = std::move(impl_->connections);
  for (auto& c : conns) {
    c->setOnClosed(nullptr);
    c->close();
  }
  if (!impl_->path.empty()) ::unlink(impl_->path.c_str());
  if (!impl_->dir.empty()) ::rmdir(impl_->dir.c_str());
}

void BridgeHost::setDocumentPolicy(DocumentPolicy policy) {
  impl_->policy = std::move(policy);
}

void BridgeHost::attach(WebKitWebContext* context, const std::string& resourceFolder) {
  if (!impl_->listen()) WD_LOG_DEBUG("the script bridge could not listen");
  const fs::path extDir = extensionDirectory();
  webkit_web_context_set_web_extensions_directory(context, extDir.c_str());
  if (!impl_->dir.empty())
    webkit_web_context_add_path_to_sandbox(context, impl_->dir.c_str(), FALSE);
  webkit_web_context_set_web_extensions_initialization_user_data(
      context,
      g_variant_new("(sss)", impl_->path.c_str(), impl_->token.c_str(), resourceFolder.c_str()));
}

std::shared_ptr<ScriptPage> BridgeHost::attachWebView(WebKitWebView* view, Installer installer,
                                                      FrameLoadedHandler frameLoaded) {
  const std::uint64_t pageId = webkit_web_view_get_page_id(view);
  // A view bridged again (its web process was replaced) keeps one record, under its page's
  // current id; the old page goes inert.
  for (auto it = impl_->pages.begin(); it != impl_->pages.end();) {
    if (it->second.view == view && it->first != pageId) {
      it->second.page->detach();
      it = impl_->pages.erase(it);
    } else {
      ++it;
    }
  }
  Impl::Record& rec = impl_->pages[pageId];
  if (rec.page) rec.page->detach();
  rec.view = view;
  rec.installer = std::move(installer);
  rec.frameLoaded = std::move(frameLoaded);
  rec.page = std::make_shared<ViewPage>(pageId);
  return rec.page;
}

void BridgeHost::detachWebView(WebKitWebView* view) {
  for (auto it = impl_->pages.begin(); it != impl_->pages.end(); ++it) {
    if (it->second.view == view) {
      it->second.page->detach();
      impl_->pages.erase(it);
      return;
    }
  }
}

std::shared_ptr<ScriptPage> BridgeHost::pageForWebView(WebKitWebView* view) const {
  for (auto& [id, rec] : impl_->pages)
    if (rec.view == view) return rec.page;
  return nullptr;
}

std::string BridgeHost::socketPath() const {
  return impl_->path;
}

std::size_t BridgeHost::connectionCount() const {
  return static_cast<std::size_t>(std::count_if(impl_->connections.begin(),
                                                impl_->connections.end(),
                                                [](const auto& c) { return c->isOpen(); }));
}

fs::path BridgeHost::extensionDirectory() {
  if (const char* env = std::getenv("WENDREL_WEBEXT_DIR"); env && *env) return env;
  std::error_code ec;
  const fs::path exeDir = fs::read_symlink("/proc/self/exe", ec).parent_path();
  const fs::path build = build::kWebExtBuildDir;
  const bool haveExe = !ec && !exeDir.empty();
  // Installed: <prefix>/bin/wendrel-desktop next to <prefix>/lib*/wendrel-desktop/web-extensions,
  // wherever the tree was installed or unpacked (also below a build directory).
  if (haveExe) {
    const fs::path installed =
        exeDir.parent_path() /
        fs::path(build::kWebExtInstallDir).lexically_relative(build::kInstallPrefix);
    if (fs::exists(installed / kModuleFile, ec)) return installed;
  }
  // Run from the build tree: the module built beside it.
  const auto rel = exeDir.lexically_relative(build::kBinaryDir);
  const bool inBuildTree = haveExe && !rel.empty() && *rel.begin() != "..";
  if (inBuildTree && fs::exists(build / kModuleFile, ec)) return build;
  if (fs::exists(build::kWebExtInstallDir / fs::path(kModuleFile), ec))
    return build::kWebExtInstallDir;
  return build;
}

}  // namespace wd::bridge

#include "update/Installer.h"

#include <fcntl.h>
#include <gio/gio.h>
#include <stdlib.h>
#include <unistd.h>

#include <system_error>

#include "core/Log.h"

namespace wd::update {

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "wendrel-desktop";
constexpr const char* kStartedVariable = "WENDREL_UPDATE_STARTED";

// The unpacked tree inside `staging`: the folder itself or its one sub-folder.
std::optional<fs::path> treeRoot(const fs::path& staging) {
  std::error_code ec;
  auto holdsProgram = [&](const fs::path& dir) {
    return fs::is_regular_file(dir / "bin" / kProgram, ec);
  };
  if (holdsProgram(staging)) return staging;
  std::optional<fs::path> only;
  for (const auto& entry : fs::directory_iterator(staging, ec)) {
    if (only || !entry.is_directory(ec) || entry.is_symlink(ec)) return std::nullopt;
    only = entry.path();
  }
  if (only && holdsProgram(*only)) return only;
  return std::nullopt;
}

}  // namespace

InstallLocation currentInstallLocation() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec || exe.parent_path().filename() != "bin") return {};
  const fs::path prefix = exe.parent_path().parent_path();
  return {prefix, prefix / "libexec" / kProgram / "wendrel-desktop-update-helper"};
}

bool canReplaceTree(const InstallLocation& location) {
  std::error_code ec;
  const fs::path& prefix = location.prefix;
  if (prefix.empty() || !prefix.is_absolute() || prefix == prefix.root_path() ||
      fs::is_symlink(prefix, ec) || !fs::is_directory(prefix, ec) ||
      !fs::is_regular_file(prefix / "bin" / kProgram, ec) ||
      !fs::is_regular_file(location.helper, ec))
    return false;
  // A shared prefix such as /usr or /usr/local holds other programs: only a tree whose bin
  // folder holds this program's files alone is ours to replace.
  for (const auto& entry : fs::directory_iterator(prefix / "bin", ec))
    if (!entry.path().filename().string().starts_with(kProgram)) return false;
  if (ec) return false;
  return ::access(prefix.c_str(), W_OK) == 0 && ::access(prefix.parent_path().c_str(), W_OK) == 0;
}

struct Installer::Unpack {
  Installer* owner;
  fs::path staging;
};

Installer::Installer(InstallLocation location, Hooks hooks, pid_t applicationPid)
    : location_(std::move(location)), hooks_(std::move(hooks)), pid_(applicationPid) {}

Installer::~Installer() {
  if (unpack_) unpack_->owner = nullptr;
}

void Installer::install(const DownloadedUpdate& update,
                        const std::function<void(const std::string&)>& failed) {
  if (unpack_) return;  // already on its way
  if (!canReplaceTree(location_)) {
    GFile* file = g_file_new_for_path(update.file.c_str());
    gchar* uri = g_file_get_uri(file);
    g_object_unref(file);
    failed_ = failed;
    unpack_ = std::make_shared<Unpack>(Unpack{this, update.file});
    g_app_info_launch_default_for_uri_async(
        uri, nullptr, nullptr,
        +[](GObject*, GAsyncResult* result, gpointer data) {
          std::unique_ptr<std::shared_ptr<Unpack>> handOver(
              static_cast<std::shared_ptr<Unpack>*>(data));
          GError* err = nullptr;
          const bool ok = g_app_info_launch_default_for_uri_finish(result, &err);
          const std::string reason =
              ok ? std::string() : std::string("no installer opens the update: ") + err->message;
          g_clear_error(&err);
          if (Installer* owner = (*handOver)->owner)
            owner->handedOver((*handOver)->staging, reason);
        },
        new std::shared_ptr<Unpack>(unpack_));
    g_free(uri);
    return;
  }
  std::string pattern = (location_.prefix.parent_path() /
                         ("." + location_.prefix.filename().string() + ".update-XXXXXX"))
                            .string();
  if (!::mkdtemp(pattern.data())) {
    if (failed) failed("no folder for the new version beside " + location_.prefix.string());
    return;
  }
  failed_ = failed;
  unpack_ = std::make_shared<Unpack>(Unpack{this, pattern});
  GError* error = nullptr;
  GSubprocess* tar =
      g_subprocess_new(G_SUBPROCESS_FLAGS_STDOUT_SILENCE, &error, "tar", "-x", "--no-same-owner",
                       "-f", update.file.c_str(), "-C", pattern.c_str(), nullptr);
  if (!tar) {
    const std::string reason = std::string("tar: ") + (error ? error->message : "?");
    g_clear_error(&error);
    unpacked(pattern, reason);
    return;
  }
  g_subprocess_wait_check_async(
      tar, nullptr,
      +[](GObject* object, GAsyncResult* result, gpointer data) {
        std::unique_ptr<std::shared_ptr<Unpack>> unpack(
            static_cast<std::shared_ptr<Unpack>*>(data));
        GError* err = nullptr;
        const bool ok = g_subprocess_wait_check_finish(G_SUBPROCESS(object), result, &err);
        const std::string reason =
            ok ? std::string() : std::string("the update cannot be unpacked: ") + err->message;
        g_clear_error(&err);
        if (Installer* owner = (*unpack)->owner) owner->unpacked((*unpack)->staging, reason);
      },
      new std::shared_ptr<Unpack>(unpack_));
  g_object_unref(tar);
}

void Installer::handedOver(const fs::path& file, const std::string& error) {
  auto failed = std::move(failed_);
  unpack_.reset();
  if (!error.empty()) {
    if (failed) failed(error);
    return;
  }
  if (hooks_.handedToSystemInstaller) hooks_.handedToSystemInstaller(file);
}

void Installer::unpacked(const fs::path& staging, const std::string& error) {
  auto failed = std::move(failed_);
  unpack_.reset();
  std::error_code ec;
  std::string reason = error;
  const auto root = reason.empty() ? treeRoot(staging) : std::nullopt;
  if (reason.empty() && !root) reason = "the update holds no application tree";
  if (reason.empty()) {
    const fs::path logs = fs::path(g_get_user_state_dir()) / kProgram / "logs";
    fs::create_directories(logs, ec);
    GSubprocessLauncher* launcher = g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_STDOUT_SILENCE);
    g_subprocess_launcher_set_stderr_file_path(launcher, (logs / "update-helper.log").c_str());
    g_subprocess_launcher_unsetenv(launcher, kStartedVariable);
    const std::string pid = std::to_string(pid_);
    GError* err = nullptr;
    GSubprocess* helper = g_subprocess_launcher_spawn(
        launcher, &err, location_.helper.c_str(), "--wait-pid", pid.c_str(), "--prefix",
        location_.prefix.c_str(), "--new", root->c_str(), "--staging", staging.c_str(), nullptr);
    g_object_unref(launcher);
    if (!helper) {
      reason = std::string("the update helper cannot start: ") + (err ? err->message : "?");
      g_clear_error(&err);
    } else {
      // The helper outlives the application; nothing waits for it here.
      g_object_unref(helper);
      WD_LOG_INFO("Update helper started for {}", location_.prefix.string());
      if (hooks_.quit) hooks_.quit();
      return;
    }
  }
  fs::remove_all(staging, ec);
  if (failed) failed(reason);
}

void acknowledgeStart() {
  const char* file = g_getenv(kStartedVariable);
  if (!file || !*file) return;
  const int fd = ::open(file, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd >= 0) ::close(fd);
  g_unsetenv(kStartedVariable);
}

}  // namespace wd::update

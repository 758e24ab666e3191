#pragma once
// Installs a downloaded, verified update.
//
// A self-contained installation the user can write (a tree made with
// `cmake --install --prefix DIR`: DIR/bin holds only this program's files, DIR and its folder
// are writable) is replaced as a whole:
//   1. the release tarball is unpacked (tar, asynchronously) into a new folder beside DIR,
//      ".<DIR name>.update-XXXXXX"; the new tree is that folder itself or its one sub-folder,
//      and must hold bin/wendrel-desktop;
//   2. the helper (DIR/libexec/wendrel-desktop/wendrel-desktop-update-helper, see
//      helper/UpdateHelper.cpp) is started with this process's id and waits for it to exit;
//      its messages go to $XDG_STATE_HOME/wendrel-desktop/logs/update-helper.log;
//   3. the application quits; the helper swaps the trees, starts the new version, and keeps the
//      old tree until the new one has reported that it started (acknowledgeStart), else puts
//      the old one back.
// Anything else (a system package under /usr, a build tree) hands the verified file to the
// desktop's software installer (the default application for the file) and tells the user.
#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "update/UpdateCheck.h"

namespace wd::update {

struct InstallLocation {
  std::filesystem::path prefix;  // the installed tree
  std::filesystem::path helper;  // the swap helper
};

// Where the running program is installed, from its executable (<prefix>/bin/<program>).
InstallLocation currentInstallLocation();

// True when `location` is a self-contained tree the user may replace.
bool canReplaceTree(const InstallLocation& location);

class Installer {
 public:
  struct Hooks {
    // Ends the application (the helper waits for that).
    std::function<void()> quit;
    // The file was given to the desktop's software installer.
    std::function<void(const std::filesystem::path& file)> handedToSystemInstaller;
  };
  Installer(InstallLocation location, Hooks hooks, pid_t applicationPid = ::getpid());
  ~Installer();
  Installer(const Installer&) = delete;
  Installer& operator=(const Installer&) = delete;

  // Starts installing `update`; `failed` gets a reason when it cannot. One install at a time.
  void install(const DownloadedUpdate& update,
               const std::function<void(const std::string&)>& failed);

 private:
  struct Unpack;  // the work under way: an unpacking, or a hand-over to the installer
  void handedOver(const std::filesystem::path& file, const std::string& error);
  void unpacked(const std::filesystem::path& staging, const std::string& error);
  InstallLocation location_;
  Hooks hooks_;
  pid_t pid_;
  std::shared_ptr<Unpack> unpack_;
  std::function<void(const std::string&)> failed_;
};

// Called once the application has started: when the update helper started it, the helper is
// told so (the file named by WENDREL_UPDATE_STARTED is created) and the variable is removed
// from the environment.
void acknowledgeStart();

}  // namespace wd::update

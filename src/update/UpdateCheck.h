#pragma once
// One update check: asks the update service for the latest release, and when it is newer than
// the running version, downloads it into the cache folder and verifies its signature.
//
// Service answers: 204 means no update; 200 carries the release (Release.h). Anything else, a
// body that is no valid release, a version not newer than the running one, a build without a
// signing key, a failed, short or oversized download, or a signature that does not verify is a
// failed check with a one-line reason.
//
// Downloads go to <cache>/<version>/wendrel-desktop-<version><ext> through "<file>.part": a part
// left by an earlier check is resumed with a range request (the whole file is fetched again when
// the server does not resume). The part becomes the file only after its size and signature were
// verified, and a file found from an earlier run is verified again before it is used. Nothing
// unverified is ever handed on; a file that fails verification is deleted.
//
// Server certificates are validated, except for hosts in the process-wide certificate-exception
// registry. Everything runs on the main loop with libsoup and GIO; the result is reported once,
// from the loop; `cancel` and destruction report nothing.
#include <gio/gio.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "update/Release.h"

typedef struct _SoupSession SoupSession;
typedef struct _SoupMessage SoupMessage;

namespace wd::update {

struct UpdaterConfiguration {
  std::string clientVersion;             // the running version
  std::optional<PublicKey> publicKey;    // none: nothing verifies, no update is ever offered
  std::filesystem::path cacheDirectory;  // where downloads are kept
};

// The user's cache folder for downloads: $XDG_CACHE_HOME/wendrel-desktop/updates.
std::filesystem::path defaultCacheDirectory();

// A downloaded, verified release.
struct DownloadedUpdate {
  Release update;
  std::filesystem::path file;
};
// One line describing it (for the log).
std::string describe(const DownloadedUpdate& update);

struct CheckResult {
  enum class Kind { NoUpdate, UpdateReady, Failed };
  Kind kind = Kind::NoUpdate;
  std::optional<DownloadedUpdate> update;  // UpdateReady
  std::string failureReason;               // Failed
};

class UpdateCheck : public std::enable_shared_from_this<UpdateCheck> {
 public:
  using Completion = std::function<void(CheckResult)>;
  static std::shared_ptr<UpdateCheck> create(SoupSession* session, std::string url,
                                             UpdaterConfiguration config, Completion done);
  ~UpdateCheck();
  UpdateCheck(const UpdateCheck&) = delete;
  UpdateCheck& operator=(const UpdateCheck&) = delete;

  void start();
  void cancel();
  bool finished() const { return ended_; }

 private:
  using WeakRef = std::weak_ptr<UpdateCheck>;
  UpdateCheck(SoupSession* session, std::string url, UpdaterConfiguration config, Completion done);

  SoupMessage* newRequest(const std::string& url);
  static void descriptionSent(GObject*, GAsyncResult*, gpointer);
  static void descriptionRead(GObject*, GAsyncResult*, gpointer);
  void releaseKnown();
  void startDownload();
  static void downloadSent(GObject*, GAsyncResult*, gpointer);
  void readChunk();
  static void chunkRead(GObject*, GAsyncResult*, gpointer);
  static void chunkWritten(GObject*, GAsyncResult*, gpointer);
  void downloadEnded();
  void verify(std::filesystem::path file, bool downloaded);
  static void verifyOpened(GObject*, GAsyncResult*, gpointer);
  static void verifyRead(GObject*, GAsyncResult*, gpointer);
  void verified(bool ok);
  void closeStreams();

  void succeed(CheckResult result);
  void fail(std::string reason);

  SoupSession* session_;
  std::string url_;
  UpdaterConfiguration config_;
  Completion done_;
  GCancellable* cancellable_;
  SoupMessage* message_ = nullptr;
  GInputStream* input_ = nullptr;
  GOutputStream* output_ = nullptr;
  std::string body_;
  std::optional<Release> release_;
  std::filesystem::path file_, part_, verifying_;
  std::uint64_t received_ = 0;  // bytes of the download in the part file
  bool verifyingDownload_ = false;
  struct Hash;
  std::unique_ptr<Hash> hash_;
  bool started_ = false;
  bool ended_ = false;
};

}  // namespace wd::update

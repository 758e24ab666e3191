#pragma once
// One file saved from the network to a local path, on libsoup and the main loop (nothing
// blocks it: the body is read and written asynchronously, the final sync and rename run on a
// worker thread).
//
// The body goes to a temporary file beside the destination (".<name>.XXXXXX.part", created
// with the user's default permissions), which is synced and renamed over the destination only
// once the whole body has arrived. A download that fails (no connection, an answer other than
// 2xx, a connection dropped mid-body, a full disk) or that is cancelled removes its temporary
// file and leaves the destination as it was: no torn file, and a file it would replace
// survives. A replaced file's permission bits carry over; a symbolic link at the destination
// is replaced by the file, never followed. The name the server suggests (Content-Disposition)
// is not used.
//
// The request is a GET of the URL, prepared by the caller's hook (the application's cookies
// for its URL) and prepared again for the new URL after each redirect; an untrusted server
// certificate is accepted only for a host excepted in CertificateExceptions. A stall (no byte
// for a minute, from the start or between reads) fails the download with that reason. The
// free space of the destination's disk is checked against the announced length before
// anything is written and, for a body without one (or longer than announced), before each
// write: a download fails rather than leave less than a hundredth of the disk (at most 64 MiB)
// free.
//
// Owned by std::shared_ptr: dropping the last reference cancels the download (its callbacks
// are not called afterwards). Callbacks may drop the download from inside.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

typedef struct _SoupMessage SoupMessage;
typedef struct _SoupSession SoupSession;
typedef struct _GCancellable GCancellable;
typedef struct _GInputStream GInputStream;
typedef struct _GOutputStream GOutputStream;
typedef struct _GObject GObject;
typedef struct _GAsyncResult GAsyncResult;
typedef struct _GTlsCertificate GTlsCertificate;

namespace wd {

// Adds what the application sends with its own requests (its cookie store's cookies for the
// message's URL) to a request about to be sent.
using PrepareRequest = std::function<void(SoupMessage*)>;

class AttachmentDownload : public std::enable_shared_from_this<AttachmentDownload> {
 public:
  struct Callbacks {
    // Bytes written so far and the body's announced length (-1 when the server gave none).
    std::function<void(std::int64_t received, std::int64_t total)> progress;
    // Once at the end: no reason when the file is complete at the destination, else a one-line
    // reason. Not called after cancel() or once the download has been dropped.
    std::function<void(const std::optional<std::string>& failure)> finished;
  };

  // Starts downloading `url` (http or https) to the file `destination`; anything else fails
  // (reported from the main loop, never from inside this call).
  static constexpr unsigned kStallMilliseconds = 60 * 1000;
  static std::shared_ptr<AttachmentDownload> start(const std::string& url, std::string destination,
                                                   PrepareRequest prepare, Callbacks callbacks,
                                                   unsigned stallMilliseconds = kStallMilliseconds);

  // The reason a download stalled for `milliseconds` reports.
  static std::string stallReason(unsigned milliseconds);
  ~AttachmentDownload();
  AttachmentDownload(const AttachmentDownload&) = delete;
  AttachmentDownload& operator=(const AttachmentDownload&) = delete;

  // Stops the download: the temporary file is removed, the destination is left as it was and
  // no callback is called.
  void cancel();

  const std::string& url() const { return url_; }
  const std::string& destination() const { return destination_; }

 private:
  AttachmentDownload(std::string url, std::string destination, PrepareRequest prepare,
                     Callbacks callbacks);
  void begin();
  void readNext();
  void complete();
  void fail(const std::string& reason);
  void report(const std::optional<std::string>& failure);
  void release();
  std::optional<std::string> openTemporary();
  void watchStall();
  // A reason when writing `bytes` more would leave the disk with less than its reserve.
  std::optional<std::string> lacksSpaceFor(std::uint64_t bytes) const;

  static void onSent(GObject* source, GAsyncResult* result, void* data);
  static void onRead(GObject* source, GAsyncResult* result, void* data);
  static void onWritten(GObject* source, GAsyncResult* result, void* data);
  static void onPlaced(GObject* source, GAsyncResult* result, void* data);
  static void onRestarted(SoupMessage* message, void* self);
  static int acceptCertificate(SoupMessage* message, GTlsCertificate*, int, void*);

  std::string url_;
  std::string destination_;
  PrepareRequest prepare_;
  Callbacks callbacks_;

  SoupSession* session_ = nullptr;
  SoupMessage* message_ = nullptr;
  GCancellable* cancellable_ = nullptr;
  GInputStream* body_ = nullptr;
  GOutputStream* output_ = nullptr;
  std::string temporary_;  // the temporary file; empty once removed or handed to the worker
  std::int64_t received_ = 0;
  std::int64_t total_ = -1;
  bool ended_ = false;
  unsigned stallMilliseconds_ = kStallMilliseconds;
  unsigned stallTimer_ = 0;
};

}  // namespace wd

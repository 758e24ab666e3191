// One file saved from the network, written beside its destination and renamed into place when
// complete (see AttachmentDownload.h).
#include "shell/downloads/AttachmentDownload.h"

#include <fcntl.h>
#include <gio/gunixoutputstream.h>
#include <libsoup/soup.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

#include "core/CertificateExceptions.h"
#include "core/GLibPtr.h"
#include "core/Log.h"

namespace wd {

namespace {

using Weak = std::weak_ptr<AttachmentDownload>;

constexpr gsize kChunk = 64 * 1024;
// The temporary file's name carries at most this much of the destination's name.
constexpr std::size_t kNameInTemporary = 64;

// The bytes a download leaves free on its disk: a hundredth of the disk, at most 64 MiB.
std::uint64_t reserveOf(const struct statvfs& fs) {
  const std::uint64_t size = std::uint64_t(fs.f_blocks) * fs.f_frsize;
  return std::min<std::uint64_t>(size / 100, 64 * 1024 * 1024);
}

std::string sizeText(std::uint64_t bytes) {
  GCharPtr text(g_format_size(bytes));
  return text.get();
}

std::string errorText(GError* error) {
  return error && error->message ? error->message : "unknown error";
}

// What the worker needs to put a complete temporary file in place, and what it found.
struct Placement {
  GObjectRef<GOutputStream> output;  // owns the temporary file's descriptor
  std::string temporary;
  std::string destination;
  std::optional<std::string> failure;
};

// On the worker: syncs the temporary file, gives it the permission bits of the file it
// replaces, renames it over the destination and syncs the folder. On any failure (or a cancel
// before the rename) the temporary file is removed and the destination stays as it was.
void place(GTask* task, gpointer, gpointer data, GCancellable* cancellable) {
  auto* p = static_cast<Placement*>(data);
  const int fd = g_unix_output_stream_get_fd(G_UNIX_OUTPUT_STREAM(p->output.get()));
  struct stat old {};
  if (::lstat(p->destination.c_str(), &old) == 0 && S_ISREG(old.st_mode))
    (void)::fchmod(fd, old.st_mode & 07777);
  if (::fsync(fd) != 0)
    p->failure = std::string("writing the file failed: ") + std::strerror(errno);
  else if (g_cancellable_is_cancelled(cancellable))
    p->failure = "cancelled";
  else if (::rename(p->temporary.c_str(), p->destination.c_str()) != 0)
    p->failure = std::string("saving the file failed: ") + std::strerror(errno);
  if (p->failure) {
    ::unlink(p->temporary.c_str());
  } else {
    const std::string folder = std::filesystem::path(p->destination).parent_path().string();
    const int dir =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      (void)::fsync(dir);
      ::close(dir);
    }
  }
  g_task_return_boolean(task, TRUE);
}

// A write in flight: the download (weakly) and the bytes being written.
struct Write {
  Weak self;
  GBytes* bytes;
  ~Write() { g_bytes_unref(bytes); }
};

}  // namespace

std::shared_ptr<AttachmentDownload> AttachmentDownload::start(const std::string& url,
                                                              std::string destination,
                                                              PrepareRequest prepare,
                                                              Callbacks callbacks,
                                                              unsigned stallMilliseconds) {
  std::shared_ptr<AttachmentDownload> download(new AttachmentDownload(
      url, std::move(destination), std::move(prepare), std::move(callbacks)));
  download->stallMilliseconds_ = stallMilliseconds;
  download->begin();
  return download;
}

AttachmentDownload::AttachmentDownload(std::string url, std::string destination,
                                       PrepareRequest prepare, Callbacks callbacks)
    : url_(std::move(url)),
      destination_(std::move(destination)),
      prepare_(std::move(prepare)),
      callbacks_(std::move(callbacks)),
      cancellable_(g_cancellable_new()) {}

AttachmentDownload::~AttachmentDownload() {
  g_cancellable_cancel(cancellable_);
  release();
  g_object_unref(cancellable_);
}

void AttachmentDownload::begin() {
  if (url_.find('\0') == std::string::npos)
    if (GUri* uri =
            g_uri_parse(url_.c_str(), static_cast<GUriFlags>(SOUP_HTTP_URI_FLAGS), nullptr)) {
      const char* scheme = g_uri_get_scheme(uri);
      const char* host = g_uri_get_host(uri);
      if ((g_strcmp0(scheme, "https") == 0 || g_strcmp0(scheme, "http") == 0) && host && *host)
        message_ = soup_message_new_from_uri(SOUP_METHOD_GET, uri);
      g_uri_unref(uri);
    }
  if (!message_) {
    // Reported from the loop, so the caller has the download in hand when it hears of it.
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        +[](gpointer data) -> gboolean {
          if (auto self = static_cast<Weak*>(data)->lock()) self->fail("not an http(s) URL");
          return G_SOURCE_REMOVE;
        },
        new Weak(weak_from_this()), +[](gpointer data) { delete static_cast<Weak*>(data); });
    return;
  }
  // The stall timer covers connecting and every read; the session itself never times out.
  session_ = soup_session_new_with_options("timeout", 0u, "idle-timeout", 0u, nullptr);
  watchStall();
  g_signal_connect(message_, "accept-certificate",
                   G_CALLBACK(&AttachmentDownload::acceptCertificate), this);
  g_signal_connect(message_, "restarted", G_CALLBACK(&AttachmentDownload::onRestarted), this);
  if (prepare_) prepare_(message_);
  soup_session_send_async(session_, message_, G_PRIORITY_DEFAULT, cancellable_,
                          &AttachmentDownload::onSent, new Weak(weak_from_this()));
}

// A redirect (or another restart) sends the message again, possibly to another host: only
// the cookies of the new URL go with it.
void AttachmentDownload::onRestarted(SoupMessage* message, void* data) {
  auto* self = static_cast<AttachmentDownload*>(data);
  soup_message_headers_remove(soup_message_get_request_headers(message), "Cookie");
  if (self->prepare_) self->prepare_(message);
}

void AttachmentDownload::watchStall() {
  if (stallTimer_) g_source_remove(stallTimer_);
  stallTimer_ = g_timeout_add_full(
      G_PRIORITY_DEFAULT, stallMilliseconds_,
      +[](gpointer data) -> gboolean {
        if (auto self = static_cast<Weak*>(data)->lock()) {
          self->stallTimer_ = 0;
          self->fail(stallReason(self->stallMilliseconds_));
        }
        return G_SOURCE_REMOVE;
      },
      new Weak(weak_from_this()), +[](gpointer data) { delete static_cast<Weak*>(data); });
}

std::string AttachmentDownload::stallReason(unsigned milliseconds) {
  const unsigned seconds = (milliseconds + 999) / 1000;
  return "the server stopped sending: nothing arrived for " +
         (seconds == 60 ? std::string("a minute") : std::to_string(seconds) + " s");
}

std::optional<std::string> AttachmentDownload::lacksSpaceFor(std::uint64_t bytes) const {
  struct statvfs fs {};
  const int fd = output_ ? g_unix_output_stream_get_fd(G_UNIX_OUTPUT_STREAM(output_)) : -1;
  if (fd < 0 || ::fstatvfs(fd, &fs) != 0) return std::nullopt;  // unknown: the write tells
  const std::uint64_t free = std::uint64_t(fs.f_bavail) * fs.f_frsize;
  if (bytes + reserveOf(fs) <= free) return std::nullopt;
  return "not enough free space in the folder (" + sizeText(bytes) + " needed, " + sizeText(free) +
         " free)";
}

int AttachmentDownload::acceptCertificate(SoupMessage* message, GTlsCertificate*, int, void*) {
  GUri* uri = soup_message_get_uri(message);
  const char* host = uri ? g_uri_get_host(uri) : nullptr;
  return host && CertificateExceptions::shared().allowsAnyCertificate(host);
}

void AttachmentDownload::onSent(GObject* source, GAsyncResult* result, void* data) {
  std::unique_ptr<Weak> weak(static_cast<Weak*>(data));
  GError* error = nullptr;
  GInputStream* body = soup_session_send_finish(SOUP_SESSION(source), result, &error);
  auto self = weak->lock();
  if (!self || self->ended_) {
    g_clear_error(&error);
    if (body) g_object_unref(body);
    return;
  }
  if (!body) {
    std::string reason = errorText(error);
    g_clear_error(&error);
    self->fail(reason);
    return;
  }
  self->body_ = body;
  const guint status = soup_message_get_status(self->message_);
  if (!SOUP_STATUS_IS_SUCCESSFUL(status)) {
    const char* phrase = soup_message_get_reason_phrase(self->message_);
    self->fail("the server answered " + std::to_string(status) +
               (phrase && *phrase ? std::string(" ") + phrase : std::string()));
    return;
  }
  SoupMessageHeaders* headers = soup_message_get_response_headers(self->message_);
  // A compressed body arrives decoded: its announced length is not what is written.
  const char* coding = soup_message_headers_get_one(headers, "Content-Encoding");
  if (soup_message_headers_get_encoding(headers) == SOUP_ENCODING_CONTENT_LENGTH &&
      (!coding || g_ascii_strcasecmp(coding, "identity") == 0))
    self->total_ = soup_message_headers_get_content_length(headers);
  if (auto failure = self->openTemporary()) {
    self->fail(*failure);
    return;
  }
  // A file that cannot fit fails before anything is written.
  if (self->total_ > 0)
    if (auto failure = self->lacksSpaceFor(std::uint64_t(self->total_))) {
      self->fail(*failure);
      return;
    }
  self->watchStall();
  if (self->callbacks_.progress) self->callbacks_.progress(0, self->total_);
  if (!self->ended_) self->readNext();
}

std::optional<std::string> AttachmentDownload::openTemporary() {
  const std::filesystem::path target(destination_);
  const std::string name = target.filename().string();
  if (name.empty() || name == "." || name == "..") return "the destination names no file";
  const std::string folder = target.parent_path().string();
  std::string pattern = (folder.empty() ? std::string(".") : folder) + "/." +
                        name.substr(0, kNameInTemporary) + ".XXXXXX.part";
  const int fd = g_mkstemp_full(pattern.data(), O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) return std::string("the file cannot be created: ") + std::strerror(errno);
  temporary_ = pattern;
  output_ = g_unix_output_stream_new(fd, TRUE);
  return std::nullopt;
}

void AttachmentDownload::readNext() {
  g_input_stream_read_bytes_async(body_, kChunk, G_PRIORITY_DEFAULT, cancellable_,
                                  &AttachmentDownload::onRead, new Weak(weak_from_this()));
}

void AttachmentDownload::onRead(GObject* source, GAsyncResult* result, void* data) {
  std::unique_ptr<Weak> weak(static_cast<Weak*>(data));
  GError* error = nullptr;
  GBytes* bytes = g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, &error);
  auto self = weak->lock();
  if (!self || self->ended_) {
    g_clear_error(&error);
    if (bytes) g_bytes_unref(bytes);
    return;
  }
  if (!bytes) {
    std::string reason = errorText(error);
    g_clear_error(&error);
    self->fail("the connection failed: " + reason);
    return;
  }
  if (g_bytes_get_size(bytes) == 0) {
    g_bytes_unref(bytes);
    self->complete();
    return;
  }
  gsize size = 0;
  const void* chunk = g_bytes_get_data(bytes, &size);
  self->watchStall();
  // A body longer than announced, or one without a length, stops before the disk is full.
  if (self->total_ < 0 || self->received_ + std::int64_t(size) > self->total_)
    if (auto failure = self->lacksSpaceFor(size)) {
      g_bytes_unref(bytes);
      self->fail(*failure);
      return;
    }
  g_output_stream_write_all_async(self->output_, chunk, size, G_PRIORITY_DEFAULT,
                                  self->cancellable_, &AttachmentDownload::onWritten,
                                  new Write{self, bytes});
}

void AttachmentDownload::onWritten(GObject* source, GAsyncResult* result, void* data) {
  std::unique_ptr<Write> write(static_cast<Write*>(data));
  GError* error = nullptr;
  gsize written = 0;
  const gboolean ok =
      g_output_stream_write_all_finish(G_OUTPUT_STREAM(source), result, &written, &error);
  auto self = write->self.lock();
  if (!self || self->ended_) {
    g_clear_error(&error);
    return;
  }
  if (!ok) {
    std::string reason = errorText(error);
    g_clear_error(&error);
    self->fail("writing the file failed: " + reason);
    return;
  }
  self->received_ += static_cast<std::int64_t>(written);
  if (self->callbacks_.progress) self->callbacks_.progress(self->received_, self->total_);
  if (!self->ended_) self->readNext();
}

void AttachmentDownload::complete() {
  if (stallTimer_) g_source_remove(std::exchange(stallTimer_, 0));
  if (total_ >= 0 && received_ != total_) {
    fail("the connection ended before the whole file arrived");
    return;
  }
  auto* placement = new Placement{GObjectRef<GOutputStream>(std::exchange(output_, nullptr)),
                                  std::exchange(temporary_, {}), destination_, std::nullopt};
  GTask* task =
      g_task_new(nullptr, cancellable_, &AttachmentDownload::onPlaced, new Weak(weak_from_this()));
  g_task_set_task_data(task, placement, [](gpointer p) { delete static_cast<Placement*>(p); });
  g_task_run_in_thread(task, place);
  g_object_unref(task);
}

void AttachmentDownload::onPlaced(GObject*, GAsyncResult* result, void* data) {
  std::unique_ptr<Weak> weak(static_cast<Weak*>(data));
  auto* placement = static_cast<Placement*>(g_task_get_task_data(G_TASK(result)));
  auto self = weak->lock();
  if (!self || self->ended_) return;
  if (placement->failure)
    self->fail(*placement->failure);
  else
    self->report(std::nullopt);
}

void AttachmentDownload::fail(const std::string& reason) {
  if (ended_) return;
  WD_LOG_INFO("Download of {} to {} failed: {}", url_, destination_, reason);
  report(reason);
}

void AttachmentDownload::report(const std::optional<std::string>& failure) {
  if (ended_) return;
  ended_ = true;
  g_cancellable_cancel(cancellable_);
  release();
  auto finished = std::move(callbacks_.finished);
  if (finished) finished(failure);
}

void AttachmentDownload::cancel() {
  if (ended_) return;
  ended_ = true;
  g_cancellable_cancel(cancellable_);
  release();
  // The callbacks stay (one of them may be the caller); they are never called again.
}

// Lets go of the request, the streams and the temporary file (removed: a finished download
// has handed it to the worker already).
void AttachmentDownload::release() {
  if (stallTimer_) g_source_remove(std::exchange(stallTimer_, 0));
  if (message_) {
    g_signal_handlers_disconnect_by_data(message_, this);
    g_clear_object(&message_);
  }
  g_clear_object(&body_);
  g_clear_object(&output_);
  if (session_) {
    soup_session_abort(session_);
    g_clear_object(&session_);
  }
  if (!temporary_.empty()) ::unlink(std::exchange(temporary_, {}).c_str());
}

}  // namespace wd

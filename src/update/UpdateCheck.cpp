#include "update/UpdateCheck.h"

#include <fcntl.h>
#include <gio/gunixoutputstream.h>
#include <libsoup/soup.h>
#include <unistd.h>

#include <cstring>
#include <system_error>

#include "core/CertificateExceptions.h"
#include "update/Version.h"

namespace wd::update {

namespace fs = std::filesystem;

namespace {

constexpr gsize kChunk = 64 * 1024;

// The download's file name ending, taken from the URL when it is one a package may have.
std::string extensionOf(const std::string& url) {
  std::string path = url.substr(0, url.find_first_of("?#"));
  for (const char* ext : {".tar.gz", ".tar.xz", ".tar.zst", ".tar.bz2", ".tgz", ".tar", ".deb"})
    if (path.size() > std::strlen(ext) && path.ends_with(ext)) return ext;
  return ".bin";
}

gboolean acceptCertificate(SoupMessage* message, GTlsCertificate*, GTlsCertificateFlags, gpointer) {
  GUri* uri = soup_message_get_uri(message);
  const char* host = uri ? g_uri_get_host(uri) : nullptr;
  return host && CertificateExceptions::shared().allowsAnyCertificate(host);
}

std::string errorText(GError* error) {
  return error && error->message ? error->message : "unknown error";
}

}  // namespace

struct UpdateCheck::Hash {
  Sha512 sha;
  std::uint64_t bytes = 0;
};

fs::path defaultCacheDirectory() {
  return fs::path(g_get_user_cache_dir()) / "wendrel-desktop" / "updates";
}

std::string describe(const DownloadedUpdate& update) {
  return update.update.releaseName + " (version " + update.update.version + ", " +
         std::to_string(update.update.size) + " bytes, " + update.file.string() + ")";
}

std::shared_ptr<UpdateCheck> UpdateCheck::create(SoupSession* session, std::string url,
                                                 UpdaterConfiguration config, Completion done) {
  return std::shared_ptr<UpdateCheck>(
      new UpdateCheck(session, std::move(url), std::move(config), std::move(done)));
}

UpdateCheck::UpdateCheck(SoupSession* session, std::string url, UpdaterConfiguration config,
                         Completion done)
    : session_(SOUP_SESSION(g_object_ref(session))),
      url_(std::move(url)),
      config_(std::move(config)),
      done_(std::move(done)),
      cancellable_(g_cancellable_new()) {}

UpdateCheck::~UpdateCheck() {
  ended_ = true;
  g_cancellable_cancel(cancellable_);
  closeStreams();
  if (message_) {
    g_signal_handlers_disconnect_by_data(message_, this);
    g_object_unref(message_);
  }
  g_object_unref(cancellable_);
  g_object_unref(session_);
}

void UpdateCheck::closeStreams() {
  // Streams are closed without waiting: an output stream's pending data is written by its
  // close, which for a local file does not block on the network.
  if (input_) g_object_unref(input_);
  input_ = nullptr;
  if (output_) {
    g_output_stream_close(output_, nullptr, nullptr);
    g_object_unref(output_);
  }
  output_ = nullptr;
}

SoupMessage* UpdateCheck::newRequest(const std::string& url) {
  if (message_) {
    g_signal_handlers_disconnect_by_data(message_, this);
    g_object_unref(message_);
    message_ = nullptr;
  }
  if (!isWebURL(url)) return nullptr;
  message_ = soup_message_new(SOUP_METHOD_GET, url.c_str());
  if (message_)
    g_signal_connect(message_, "accept-certificate", G_CALLBACK(&acceptCertificate), this);
  return message_;
}

void UpdateCheck::start() {
  if (started_) return;
  started_ = true;
  // The request leaves from the loop (so that nothing, not even a name lookup, happens before
  // the loop runs), and a URL that cannot be asked is reported from there too.
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      +[](gpointer data) -> gboolean {
        auto self = static_cast<WeakRef*>(data)->lock();
        if (!self || self->ended_) return G_SOURCE_REMOVE;
        if (!self->newRequest(self->url_)) {
          self->fail("the update-service URL is not valid");
          return G_SOURCE_REMOVE;
        }
        soup_session_send_async(self->session_, self->message_, G_PRIORITY_DEFAULT,
                                self->cancellable_, &UpdateCheck::descriptionSent,
                                new WeakRef(self));
        return G_SOURCE_REMOVE;
      },
      new WeakRef(weak_from_this()), +[](gpointer data) { delete static_cast<WeakRef*>(data); });
}

void UpdateCheck::cancel() {
  ended_ = true;
  g_cancellable_cancel(cancellable_);
}

void UpdateCheck::descriptionSent(GObject* object, GAsyncResult* result, gpointer data) {
  std::unique_ptr<WeakRef> ref(static_cast<WeakRef*>(data));
  GError* error = nullptr;
  GInputStream* stream = soup_session_send_finish(SOUP_SESSION(object), result, &error);
  auto self = ref->lock();
  if (!self || self->ended_) {
    g_clear_error(&error);
    if (stream) g_object_unref(stream);
    return;
  }
  if (!stream) {
    std::string reason = "the update service cannot be reached: " + errorText(error);
    g_clear_error(&error);
    self->fail(std::move(reason));
    return;
  }
  const guint status = soup_message_get_status(self->message_);
  if (status == SOUP_STATUS_NO_CONTENT) {
    g_object_unref(stream);
    self->succeed({CheckResult::Kind::NoUpdate, std::nullopt, {}});
    return;
  }
  if (status != SOUP_STATUS_OK) {
    g_object_unref(stream);
    self->fail("the update service answered with status " + std::to_string(status));
    return;
  }
  self->input_ = stream;
  g_input_stream_read_bytes_async(stream, kChunk, G_PRIORITY_DEFAULT, self->cancellable_,
                                  &UpdateCheck::descriptionRead, ref.release());
}

void UpdateCheck::descriptionRead(GObject* object, GAsyncResult* result, gpointer data) {
  std::unique_ptr<WeakRef> ref(static_cast<WeakRef*>(data));
  GError* error = nullptr;
  GBytes* bytes = g_input_stream_read_bytes_finish(G_INPUT_STREAM(object), result, &error);
  auto self = ref->lock();
  if (!self || self->ended_) {
    g_clear_error(&error);
    if (bytes) g_bytes_unref(bytes);
    return;
  }
  if (!bytes) {
    std::string reason = "the release description broke off: " + errorText(error);
    g_clear_error(&error);
    self->fail(std::move(reason));
    return;
  }
  gsize size = 0;
  const auto* chunk = static_cast<const char*>(g_bytes_get_data(bytes, &size));
  self->body_.append(chunk, size);
  g_bytes_unref(bytes);
  if (self->body_.size() > kMaxReleaseBodyBytes) {
    self->fail("the release description is too long");
    return;
  }
  if (size == 0) {
    self->closeStreams();
    self->releaseKnown();
    return;
  }
  g_input_stream_read_bytes_async(self->input_, kChunk, G_PRIORITY_DEFAULT, self->cancellable_,
                                  &UpdateCheck::descriptionRead, ref.release());
}

void UpdateCheck::releaseKnown() {
  auto parsed = readRelease(body_);
  body_.clear();
  if (auto* reason = std::get_if<std::string>(&parsed)) {
    fail(*reason);
    return;
  }
  release_ = std::get<Release>(std::move(parsed));
  if (!isNewerVersion(release_->version, config_.clientVersion)) {
    fail("the offered version " + release_->version + " is not newer than the running version " +
         config_.clientVersion);
    return;
  }
  if (!config_.publicKey) {
    fail("this build has no key to verify updates with");
    return;
  }
  std::error_code ec;
  const fs::path folder = config_.cacheDirectory / release_->version;
  fs::create_directories(folder, ec);
  file_ = folder / ("wendrel-desktop-" + release_->version + extensionOf(release_->url));
  part_ = file_;
  part_ += ".part";
  if (fs::is_regular_file(file_, ec)) {
    verify(file_, false);  // from an earlier run: verified again before use
    return;
  }
  startDownload();
}

void UpdateCheck::startDownload() {
  std::error_code ec;
  const auto existing = fs::is_regular_file(part_, ec) ? fs::file_size(part_, ec) : 0;
  received_ = ec ? 0 : existing;
  if (received_ >= release_->size) {
    fs::remove(part_, ec);
    received_ = 0;
  }
  if (!newRequest(release_->url)) {
    fail("the download URL is not valid");
    return;
  }
  if (received_ > 0) {
    soup_message_headers_set_range(soup_message_get_request_headers(message_),
                                   static_cast<goffset>(received_), -1);
  }
  soup_session_send_async(session_, message_, G_PRIORITY_DEFAULT, cancellable_,
                          &UpdateCheck::downloadSent, new WeakRef(weak_from_this()));
}

void UpdateCheck::downloadSent(GObject* object, GAsyncResult* result, gpointer data) {
  std::unique_ptr<WeakRef> ref(static_cast<WeakRef*>(data));
  GError* error = nullptr;
  GInputStream* stream = soup_session_send_finish(SOUP_SESSION(object), result, &error);
  auto self = ref->lock();
  if (!self || self->ended_) {
    g_clear_error(&error);
    if (stream) g_object_unref(stream);
    return;
  }
  if (!stream) {
    std::string reason = "the download failed: " + errorText(error);
    g_clear_error(&error);
    self->fail(std::move(reason));
    return;
  }
  self->input_ = stream;
  const guint status = soup_message_get_status(self->message_);
  SoupMessageHeaders* headers = soup_message_get_response_headers(self->message_);
  bool append = false;
  std::error_code ec;
  if (status == SOUP_STATUS_PARTIAL_CONTENT && self->received_ > 0) {
    goffset start = 0, end = 0, total = 0;
    if (!soup_message_headers_get_content_range(headers, &start, &end, &total) ||
        static_cast<std::uint64_t>(start) != self->received_) {
      fs::remove(self->part_, ec);
      self->fail("the download server resumed at the wrong place");
      return;
    }
    append = true;
  } else if (status != SOUP_STATUS_OK) {
    // A part the server will not resume from is dropped; the next check starts afresh.
    if (status == SOUP_STATUS_REQUESTED_RANGE_NOT_SATISFIABLE) fs::remove(self->part_, ec);
    self->fail("the download answered with status " + std::to_string(status));
    return;
  }
  if (!append) self->received_ = 0;
  if (soup_message_headers_get_encoding(headers) == SOUP_ENCODING_CONTENT_LENGTH &&
      self->received_ +
              static_cast<std::uint64_t>(soup_message_headers_get_content_length(headers)) >
          self->release_->size) {
    fs::remove(self->part_, ec);
    self->fail("the download is larger than the release says");
    return;
  }
  const int fd =
      ::open(self->part_.c_str(),
             O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (append ? O_APPEND : O_TRUNC), 0600);
  if (fd < 0) {
    self->fail("the download cannot be saved in " + self->part_.parent_path().string());
    return;
  }
  self->output_ = g_unix_output_stream_new(fd, TRUE);
  self->readChunk();
}

void UpdateCheck::readChunk() {
  g_input_stream_read_bytes_async(input_, kChunk, G_PRIORITY_DEFAULT, cancellable_,
                                  &UpdateCheck::chunkRead, new WeakRef(weak_from_this()));
}

void UpdateCheck::chunkRead(GObject* object, GAsyncResult* result, gpointer data) {
  std::unique_ptr<WeakRef> ref(static_cast<WeakRef*>(data));
  GError* error = nullptr;
  GBytes* bytes = g_input_stream_read_bytes_finish(G_INPUT_STREAM(object), result, &error);
  auto self = ref->lock();
  if (!self || self->ended_) {
    g_clear_error(&error);
    if (bytes) g_bytes_unref(bytes);
    return;
  }
  if (!bytes) {
    // What arrived stays in the part file, to be resumed by the next check.
    std::string reason = "the download broke off: " + errorText(error);
    g_clear_error(&error);
    self->fail(std::move(reason));
    return;
  }
  const gsize size = g_bytes_get_size(bytes);
  if (size == 0) {
    g_bytes_unref(bytes);
    self->downloadEnded();
    return;
  }
  if (self->received_ + size > self->release_->size) {
    g_bytes_unref(bytes);
    self->closeStreams();
    std::error_code ec;
    fs::remove(self->part_, ec);
    self->fail("the download is larger than the release says");
    return;
  }
  self->received_ += size;
  g_output_stream_write_bytes_async(self->output_, bytes, G_PRIORITY_DEFAULT, self->cancellable_,
                                    &UpdateCheck::chunkWritten, ref.release());
  g_bytes_unref(bytes);
}

void UpdateCheck::chunkWritten(GObject* object, GAsyncResult* result, gpointer data) {
  std::unique_ptr<WeakRef> ref(static_cast<WeakRef*>(data));
  GError* error = nullptr;
  const gssize written =
      g_output_stream_write_bytes_finish(G_OUTPUT_STREAM(object), result, &error);
  auto self = ref->lock();
  if (!self || self->ended_) {
    g_clear_error(&error);
    return;
  }
  if (written < 0) {
    std::string reason = "the download cannot be saved: " + errorText(error);
    g_clear_error(&error);
    self->fail(std::move(reason));
    return;
  }
  // A short write leaves the rest of the chunk unwritten: the part is then shorter than the
  // count, which verification catches; local files take whole chunks.
  self->readChunk();
}

void UpdateCheck::downloadEnded() {
  closeStreams();
  if (received_ < release_->size) {
    fail("the download ended after " + std::to_string(received_) + " of " +
         std::to_string(release_->size) + " bytes");
    return;
  }
  verify(part_, true);
}

void UpdateCheck::verify(fs::path file, bool downloaded) {
  verifying_ = std::move(file);
  verifyingDownload_ = downloaded;
  hash_ = std::make_unique<Hash>();
  GFile* gfile = g_file_new_for_path(verifying_.c_str());
  g_file_read_async(gfile, G_PRIORITY_DEFAULT, cancellable_, &UpdateCheck::verifyOpened,
                    new WeakRef(weak_from_this()));
  g_object_unref(gfile);
}

void UpdateCheck::verifyOpened(GObject* object, GAsyncResult* result, gpointer data) {
  std::unique_ptr<WeakRef> ref(static_cast<WeakRef*>(data));
  GError* error = nullptr;
  GFileInputStream* stream = g_file_read_finish(G_FILE(object), result, &error);
  g_clear_error(&error);
  auto self = ref->lock();
  if (!self || self->ended_) {
    if (stream) g_object_unref(stream);
    return;
  }
  if (!stream) {
    self->verified(false);
    return;
  }
  self->input_ = G_INPUT_STREAM(stream);
  g_input_stream_read_bytes_async(self->input_, kChunk, G_PRIORITY_DEFAULT, self->cancellable_,
                                  &UpdateCheck::verifyRead, ref.release());
}

void UpdateCheck::verifyRead(GObject* object, GAsyncResult* result, gpointer data) {
  std::unique_ptr<WeakRef> ref(static_cast<WeakRef*>(data));
  GError* error = nullptr;
  GBytes* bytes = g_input_stream_read_bytes_finish(G_INPUT_STREAM(object), result, &error);
  g_clear_error(&error);
  auto self = ref->lock();
  if (!self || self->ended_) {
    if (bytes) g_bytes_unref(bytes);
    return;
  }
  if (!bytes) {
    self->verified(false);
    return;
  }
  gsize size = 0;
  const void* chunk = g_bytes_get_data(bytes, &size);
  self->hash_->sha.update(chunk, size);
  self->hash_->bytes += size;
  g_bytes_unref(bytes);
  if (size == 0) {
    self->verified(true);
    return;
  }
  if (self->hash_->bytes > self->release_->size) {
    self->verified(false);
    return;
  }
  g_input_stream_read_bytes_async(self->input_, kChunk, G_PRIORITY_DEFAULT, self->cancellable_,
                                  &UpdateCheck::verifyRead, ref.release());
}

void UpdateCheck::verified(bool readWhole) {
  closeStreams();
  const Release& r = *release_;
  const bool ok =
      readWhole && hash_->bytes == r.size &&
      verifyRelease(*config_.publicKey, r.signature, r.version, r.size, hash_->sha.finish());
  std::error_code ec;
  if (!ok) {
    fs::remove(verifying_, ec);
    if (!verifyingDownload_) {
      startDownload();  // a damaged file from an earlier run: fetched again
      return;
    }
    fail("the download's signature does not verify");
    return;
  }
  if (verifyingDownload_) {
    fs::rename(part_, file_, ec);
    if (ec) {
      fail("the download cannot be kept: " + ec.message());
      return;
    }
  }
  succeed({CheckResult::Kind::UpdateReady, DownloadedUpdate{r, file_}, {}});
}

void UpdateCheck::succeed(CheckResult result) {
  if (ended_) return;
  ended_ = true;
  g_cancellable_cancel(cancellable_);
  closeStreams();
  auto keep = shared_from_this();
  auto done = std::move(done_);
  if (done) done(std::move(result));
}

void UpdateCheck::fail(std::string reason) {
  succeed({CheckResult::Kind::Failed, std::nullopt, std::move(reason)});
}

}  // namespace wd::update

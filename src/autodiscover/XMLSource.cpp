#include "autodiscover/XMLSource.h"

#include <libsoup/soup.h>

#include <algorithm>

#include "core/CertificateExceptions.h"

namespace wd {

namespace {
constexpr gsize kReadChunk = 16384;
constexpr goffset kMaxPresize = 1024 * 1024;
}  // namespace

std::shared_ptr<XMLSource> XMLSource::create(std::string endPoint,
                                             std::weak_ptr<XMLSourceDelegate> delegate) {
  return std::shared_ptr<XMLSource>(new XMLSource(std::move(endPoint), std::move(delegate)));
}

XMLSource::XMLSource(std::string endPoint, std::weak_ptr<XMLSourceDelegate> delegate)
    : endPoint_(std::move(endPoint)), delegate_(std::move(delegate)) {
  session_ = soup_session_new();
  cancellable_ = g_cancellable_new();
  // Only an absolute http(s) URL with a host makes a request; anything else fails the load.
  if (GUri* uri =
          g_uri_parse(endPoint_.c_str(), static_cast<GUriFlags>(SOUP_HTTP_URI_FLAGS), nullptr)) {
    const char* scheme = g_uri_get_scheme(uri);
    const char* host = g_uri_get_host(uri);
    if ((g_strcmp0(scheme, "https") == 0 || g_strcmp0(scheme, "http") == 0) && host != nullptr &&
        *host != '\0')
      message_ = soup_message_new_from_uri(SOUP_METHOD_GET, uri);
    g_uri_unref(uri);
  }
  if (message_ != nullptr) {
    g_signal_connect(message_, "authenticate", G_CALLBACK(&XMLSource::authenticate), this);
    g_signal_connect(message_, "accept-certificate", G_CALLBACK(&XMLSource::acceptCertificate),
                     this);
  }
}

XMLSource::~XMLSource() {
  cancel();
  if (message_ != nullptr) {
    g_signal_handlers_disconnect_by_data(message_, this);
    g_object_unref(message_);
  }
  if (stream_ != nullptr) g_object_unref(stream_);
  soup_session_abort(session_);
  g_object_unref(session_);
  g_object_unref(cancellable_);
}

void XMLSource::start() {
  if (started_) return;
  started_ = true;
  if (message_ == nullptr) {
    // Not a URL the HTTP layer can load: a failed load, reported from the loop.
    idle_ =
        g_idle_add_full(G_PRIORITY_DEFAULT, &XMLSource::finishIdle, new WeakRef(weak_from_this()),
                        [](gpointer p) { delete static_cast<WeakRef*>(p); });
    return;
  }
  soup_session_send_async(session_, message_, G_PRIORITY_DEFAULT, cancellable_, &XMLSource::sent,
                          new WeakRef(weak_from_this()));
}

void XMLSource::cancel() {
  ended_ = true;
  if (idle_ != 0) g_source_remove(idle_);
  idle_ = 0;
  g_cancellable_cancel(cancellable_);
}

gboolean XMLSource::finishIdle(gpointer data) {
  if (auto self = static_cast<WeakRef*>(data)->lock()) {
    self->idle_ = 0;
    if (!self->ended_) self->finish();
  }
  return G_SOURCE_REMOVE;
}

void XMLSource::sent(GObject* object, GAsyncResult* result, gpointer data) {
  std::unique_ptr<WeakRef> ref(static_cast<WeakRef*>(data));
  GError* error = nullptr;
  GInputStream* stream = soup_session_send_finish(SOUP_SESSION(object), result, &error);
  g_clear_error(&error);
  auto self = ref->lock();
  if (!self || self->ended_) {
    if (stream != nullptr) g_object_unref(stream);
    return;
  }
  if (stream == nullptr) {  // no connection, refused certificate, broken transfer
    self->finish();
    return;
  }
  const guint status = soup_message_get_status(self->message_);
  if (status >= 400) {
    g_object_unref(stream);
    self->cancel();
    if (status == SOUP_STATUS_UNAUTHORIZED) {
      if (auto delegate = self->delegate_.lock()) delegate->invalidCredentials(*self);
    }
    return;
  }
  self->stream_ = stream;
  self->data_.emplace();
  SoupMessageHeaders* headers = soup_message_get_response_headers(self->message_);
  if (soup_message_headers_get_encoding(headers) == SOUP_ENCODING_CONTENT_LENGTH) {
    const goffset length = soup_message_headers_get_content_length(headers);
    if (length >= 1) self->data_->reserve(static_cast<std::size_t>(std::min(length, kMaxPresize)));
  }
  self->readNext();
}

void XMLSource::readNext() {
  g_input_stream_read_bytes_async(stream_, kReadChunk, G_PRIORITY_DEFAULT, cancellable_,
                                  &XMLSource::received, new WeakRef(weak_from_this()));
}

void XMLSource::received(GObject* object, GAsyncResult* result, gpointer data) {
  std::unique_ptr<WeakRef> ref(static_cast<WeakRef*>(data));
  GError* error = nullptr;
  GBytes* bytes = g_input_stream_read_bytes_finish(G_INPUT_STREAM(object), result, &error);
  g_clear_error(&error);
  auto self = ref->lock();
  if (!self || self->ended_) {
    if (bytes != nullptr) g_bytes_unref(bytes);
    return;
  }
  if (bytes == nullptr) {  // broken transfer: report what arrived
    self->finish();
    return;
  }
  gsize size = 0;
  const auto* chunk = static_cast<const char*>(g_bytes_get_data(bytes, &size));
  if (size == 0) {
    g_bytes_unref(bytes);
    self->finish();
    return;
  }
  const std::size_t room = kMaxBodySize - self->data_->size();
  self->data_->append(chunk, std::min<std::size_t>(size, room));
  g_bytes_unref(bytes);
  if (size >= room) {
    self->finish();  // too long: ends like a broken transfer
    return;
  }
  self->readNext();
}

void XMLSource::finish() {
  auto self = shared_from_this();
  ended_ = true;
  g_cancellable_cancel(cancellable_);
  const std::string body = content();
  if (auto delegate = delegate_.lock()) delegate->xmlSourceDidFinished(*this, body);
}

gboolean XMLSource::authenticate(SoupMessage* message, SoupAuth* auth, gboolean retrying,
                                 gpointer data) {
  auto* source = static_cast<XMLSource*>(data);
  if (source->ended_ || retrying || soup_auth_is_for_proxy(auth)) return FALSE;
  GUri* uri = soup_message_get_uri(message);
  if (uri == nullptr || g_strcmp0(g_uri_get_scheme(uri), "https") != 0) return FALSE;
  auto self = source->shared_from_this();
  auto delegate = self->delegate_.lock();
  if (!delegate) return FALSE;
  const auto credential = delegate->credentials();
  if (!credential || self->ended_) return FALSE;
  soup_auth_authenticate(auth, credential->user.c_str(), credential->password.c_str());
  return TRUE;
}

gboolean XMLSource::acceptCertificate(SoupMessage* message, GTlsCertificate*, GTlsCertificateFlags,
                                      gpointer) {
  GUri* uri = soup_message_get_uri(message);
  const char* host = uri != nullptr ? g_uri_get_host(uri) : nullptr;
  return host != nullptr && CertificateExceptions::shared().allowsAnyCertificate(host);
}

}  // namespace wd

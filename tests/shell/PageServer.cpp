// The loopback HTTPS server of the web view tests (see PageServer.h).
#include "shell/PageServer.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace wd::test {

PageServer::PageServer(const std::string& dir) {
  const std::string cert = dir + "/page-server.pem", key = dir + "/page-server.key";
  const std::string command =
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj "
      "/CN=localhost -addext subjectAltName=DNS:localhost,IP:127.0.0.1 -keyout '" +
      key + "' -out '" + cert + "' 2>/dev/null";
  if (std::system(command.c_str()) != 0) {
    error_ = "openssl could not make the certificate";
    return;
  }
  GError* error = nullptr;
  certificate_ = g_tls_certificate_new_from_files(cert.c_str(), key.c_str(), &error);
  if (!certificate_) {
    error_ = std::string("certificate: ") + (error ? error->message : "?");
    g_clear_error(&error);
    return;
  }
  server_ = SOUP_SERVER(g_object_new(SOUP_TYPE_SERVER, "tls-certificate", certificate_, nullptr));
  soup_server_add_handler(server_, nullptr, &PageServer::handle, this, nullptr);
  GInetAddress* loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
  GSocketAddress* address = g_inet_socket_address_new(loopback, 0);
  g_object_unref(loopback);
  const gboolean listening = soup_server_listen(server_, address, SOUP_SERVER_LISTEN_HTTPS, &error);
  g_object_unref(address);
  if (!listening) {
    error_ = std::string("listen: ") + (error ? error->message : "?");
    g_clear_error(&error);
    return;
  }
  GSList* uris = soup_server_get_uris(server_);
  if (uris) port_ = g_uri_get_port(static_cast<GUri*>(uris->data));
  g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
}

PageServer::~PageServer() {
  if (server_) {
    soup_server_disconnect(server_);
    g_object_unref(server_);
  }
  g_clear_object(&certificate_);
}

std::string PageServer::url(const std::string& host, const std::string& path) const {
  return "https://" + host + ":" + std::to_string(port_) + path;
}

void PageServer::handle(SoupServer*, SoupServerMessage* msg, const char* path, GHashTable*,
                        gpointer data) {
  auto* self = static_cast<PageServer*>(data);
  self->requests_.push_back(path ? path : "");
  auto it = self->routes_.find(path ? path : "");
  if (it == self->routes_.end()) {
    soup_server_message_set_status(msg, 404, nullptr);
    return;
  }
  const Route& r = it->second;
  SoupMessageHeaders* headers = soup_server_message_get_response_headers(msg);
  if (r.challenge)
    soup_message_headers_replace(headers, "WWW-Authenticate", "Basic realm=\"test\"");
  const char* cookie =
      soup_message_headers_get_one(soup_server_message_get_request_headers(msg), "Cookie");
  if (!r.cookie.empty() &&
      (!cookie || std::string_view(cookie).find(r.cookie) == std::string_view::npos)) {
    soup_server_message_set_status(msg, 403, nullptr);
    return;
  }
  if (!r.filename.empty())
    soup_message_headers_replace(headers, "Content-Disposition",
                                 ("attachment; filename=\"" + r.filename + "\"").c_str());
  soup_server_message_set_status(msg, r.challenge ? 401 : r.status, nullptr);
  if (r.dropAfter) {
    // The connection is taken over: the full length is announced, part of the body written,
    // and the connection closed.
    struct Drop {
      GIOStream* stream;
      std::string data;
    };
    auto* drop = new Drop{soup_server_message_steal_connection(msg),
                          "HTTP/1.1 200 OK\r\nContent-Type: " + r.contentType +
                              "\r\nContent-Length: " + std::to_string(r.body.size()) + "\r\n\r\n" +
                              r.body.substr(0, *r.dropAfter)};
    g_output_stream_write_all_async(
        g_io_stream_get_output_stream(drop->stream), drop->data.data(), drop->data.size(),
        G_PRIORITY_DEFAULT, nullptr,
        +[](GObject* out, GAsyncResult* result, gpointer state) {
          std::unique_ptr<Drop> d(static_cast<Drop*>(state));
          g_output_stream_write_all_finish(G_OUTPUT_STREAM(out), result, nullptr, nullptr);
          g_io_stream_close(d->stream, nullptr, nullptr);
          g_object_unref(d->stream);
        },
        drop);
    return;
  }
  soup_server_message_set_response(msg, r.contentType.c_str(), SOUP_MEMORY_COPY, r.body.data(),
                                   r.body.size());
}

}  // namespace wd::test

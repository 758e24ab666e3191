// The loopback HTTPS server of the web view tests (see PageServer.h).
#include "shell/PageServer.h"

#include <cstdlib>
#include <memory>
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
  g_autoptr(GError) error = nullptr;
  certificate_.reset(g_tls_certificate_new_from_files(cert.c_str(), key.c_str(), &error));
  if (!certificate_) {
    error_ = std::string("certificate: ") + error->message;
    return;
  }
  server_.reset(
      SOUP_SERVER(g_object_new(SOUP_TYPE_SERVER, "tls-certificate", certificate_.get(), nullptr)));
  soup_server_add_handler(server_.get(), nullptr, &PageServer::handle, this, nullptr);
  g_autoptr(GInetAddress) loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
  g_autoptr(GSocketAddress) address = g_inet_socket_address_new(loopback, 0);
  if (!soup_server_listen(server_.get(), address, SOUP_SERVER_LISTEN_HTTPS, &error) ||
      !soup_server_listen(server_.get(), address, SoupServerListenOptions(0), &error)) {
    error_ = std::string("listen: ") + error->message;
    return;
  }
  // The server names each listener's scheme: HTTPS is the main port, plain HTTP beside it.
  GSList* uris = soup_server_get_uris(server_.get());
  for (GSList* l = uris; l; l = l->next) {
    auto* uri = static_cast<GUri*>(l->data);
    (g_strcmp0(g_uri_get_scheme(uri), "https") == 0 ? port_ : plainPort_) = g_uri_get_port(uri);
  }
  g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
}

PageServer::~PageServer() {
  sockets_.clear();
  for (auto& stream : held_) g_io_stream_close(stream.get(), nullptr, nullptr);
  if (server_) soup_server_disconnect(server_.get());
}

std::string PageServer::url(const std::string& host, const std::string& path) const {
  return "https://" + host + ":" + std::to_string(port_) + path;
}

std::string PageServer::plainUrl(const std::string& host, const std::string& path) const {
  return "http://" + host + ":" + std::to_string(plainPort_) + path;
}

void PageServer::handle(SoupServer*, SoupServerMessage* msg, const char* path, GHashTable*,
                        gpointer data) {
  auto* self = static_cast<PageServer*>(data);
  const std::string at = path ? path : "";
  self->requests_.push_back(at);
  GUri* uri = soup_server_message_get_uri(msg);
  const char* query = uri ? g_uri_get_query(uri) : nullptr;
  self->requestURIs_.push_back(at + (query ? std::string("?") + query : ""));
  const char* cookie =
      soup_message_headers_get_one(soup_server_message_get_request_headers(msg), "Cookie");
  self->requestCookies_.push_back({at, cookie ? cookie : ""});
  auto it = self->routes_.find(at);
  if (it == self->routes_.end()) {
    soup_server_message_set_status(msg, 404, nullptr);
    return;
  }
  const Route& r = it->second;
  SoupMessageHeaders* headers = soup_server_message_get_response_headers(msg);
  if (r.challenge)
    soup_message_headers_replace(headers, "WWW-Authenticate", "Basic realm=\"test\"");
  if (!r.cookie.empty() &&
      (!cookie || std::string_view(cookie).find(r.cookie) == std::string_view::npos)) {
    soup_server_message_set_status(msg, 403, nullptr);
    return;
  }
  for (const auto& field : r.setCookies)
    soup_message_headers_append(headers, "Set-Cookie", field.c_str());
  if (!r.filename.empty())
    soup_message_headers_replace(headers, "Content-Disposition",
                                 ("attachment; filename=\"" + r.filename + "\"").c_str());
  if (!r.redirect.empty()) {
    soup_server_message_set_redirect(msg, 302, r.redirect.c_str());
    return;
  }
  soup_server_message_set_status(msg, r.challenge ? 401 : r.status, nullptr);
  if (r.dropAfter) {
    // The connection is taken over: the full length is announced, part of the body written,
    // and the connection closed.
    struct Drop {
      GObjectRef<GIOStream> stream;
      std::string data;
      PageServer* holder;  // keeps the connection open when set
    };
    const std::string length = r.unannounced
                                   ? "Connection: close\r\n"
                                   : "Content-Length: " + std::to_string(r.body.size()) + "\r\n";
    auto* drop = new Drop{GObjectRef<GIOStream>(soup_server_message_steal_connection(msg)),
                          "HTTP/1.1 200 OK\r\nContent-Type: " + r.contentType + "\r\n" + length +
                              "\r\n" + r.body.substr(0, *r.dropAfter),
                          r.holdOpen ? self : nullptr};
    g_output_stream_write_all_async(
        g_io_stream_get_output_stream(drop->stream.get()), drop->data.data(), drop->data.size(),
        G_PRIORITY_DEFAULT, nullptr,
        +[](GObject* out, GAsyncResult* result, gpointer state) {
          std::unique_ptr<Drop> d(static_cast<Drop*>(state));
          g_output_stream_write_all_finish(G_OUTPUT_STREAM(out), result, nullptr, nullptr);
          if (d->holder) return d->holder->held_.push_back(std::move(d->stream));
          g_io_stream_close(d->stream.get(), nullptr, nullptr);
        },
        drop);
    return;
  }
  const std::string body = r.echoCookie ? self->requestCookies_.back().cookie : r.body;
  soup_server_message_set_response(msg, r.contentType.c_str(), SOUP_MEMORY_COPY, body.data(),
                                   body.size());
}

void PageServer::webSocket(const std::string& path) {
  soup_server_add_websocket_handler(
      server_.get(), path.c_str(), nullptr, nullptr,
      [](SoupServer*, SoupServerMessage* msg, const char*, SoupWebsocketConnection* connection,
         gpointer self) {
        const char* cookie =
            soup_message_headers_get_one(soup_server_message_get_request_headers(msg), "Cookie");
        static_cast<PageServer*>(self)->sockets_.push_back(refObject(connection));
        soup_websocket_connection_send_text(connection, cookie ? cookie : "");
      },
      this, nullptr);
}

// One client of the proxy: its CONNECT head is read (whatever host it names), answered, and the
// client spliced to the server. Connecting to the loopback listener and the short answer on an
// empty socket complete at once; the reading and the splice are asynchronous.
struct TunnelProxy::Tunnel {
  GObjectRef<GSocketConnection> client;
  GObjectRef<GCancellable> cancellable;
  int targetPort;
  std::string head;
  char chunk[1024];

  void readHead() {
    g_input_stream_read_async(
        g_io_stream_get_input_stream(G_IO_STREAM(client.get())), chunk, sizeof chunk,
        G_PRIORITY_DEFAULT, cancellable.get(),
        +[](GObject* source, GAsyncResult* result, gpointer data) {
          std::unique_ptr<Tunnel> self(static_cast<Tunnel*>(data));
          const gssize n = g_input_stream_read_finish(G_INPUT_STREAM(source), result, nullptr);
          if (n <= 0 || self->head.size() > 16384) return;
          self->head.append(self->chunk, static_cast<std::size_t>(n));
          if (self->head.find("\r\n\r\n") == std::string::npos) return self.release()->readHead();
          g_autoptr(GSocketClient) connector = g_socket_client_new();
          g_autoptr(GSocketConnection) upstream = g_socket_client_connect_to_host(
              connector, "127.0.0.1", static_cast<guint16>(self->targetPort), nullptr, nullptr);
          static const char kEstablished[] = "HTTP/1.1 200 Connection established\r\n\r\n";
          if (upstream && g_output_stream_write_all(
                              g_io_stream_get_output_stream(G_IO_STREAM(self->client.get())),
                              kEstablished, sizeof kEstablished - 1, nullptr, nullptr, nullptr))
            g_io_stream_splice_async(
                G_IO_STREAM(self->client.get()), G_IO_STREAM(upstream),
                static_cast<GIOStreamSpliceFlags>(G_IO_STREAM_SPLICE_CLOSE_STREAM1 |
                                                  G_IO_STREAM_SPLICE_CLOSE_STREAM2),
                G_PRIORITY_DEFAULT, self->cancellable.get(), nullptr, nullptr);
        },
        this);
  }
};

TunnelProxy::TunnelProxy(int targetPort) : targetPort_(targetPort) {
  g_autoptr(GInetAddress) loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
  g_autoptr(GSocketAddress) address = g_inet_socket_address_new(loopback, 0);
  g_autoptr(GSocketAddress) bound = nullptr;
  if (g_socket_listener_add_address(G_SOCKET_LISTENER(service_.get()), address,
                                    G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_TCP, nullptr, &bound,
                                    nullptr))
    port_ = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(bound));
  g_signal_connect(
      service_.get(), "incoming",
      G_CALLBACK(+[](GSocketService*, GSocketConnection* client, GObject*, TunnelProxy* self) {
        (new Tunnel{refObject(client), refObject(self->cancellable_.get()), self->targetPort_})
            ->readHead();
        return TRUE;
      }),
      this);
  g_socket_service_start(service_.get());
}

TunnelProxy::~TunnelProxy() {
  g_cancellable_cancel(cancellable_.get());
  g_socket_service_stop(service_.get());
  g_socket_listener_close(G_SOCKET_LISTENER(service_.get()));
}

std::string TunnelProxy::uri() const {
  return port_ ? "http://127.0.0.1:" + std::to_string(port_) : std::string();
}

}  // namespace wd::test

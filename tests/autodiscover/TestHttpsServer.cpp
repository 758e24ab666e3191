#include "TestHttpsServer.h"

namespace wd::test {

namespace {
std::string key(const std::string& host, int port) {
  return host + ":" + std::to_string(port);
}
}  // namespace

std::string autodiscoverDocument(const std::string& server) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
         "<Autodiscover "
         "xmlns=\"http://schemas.microsoft.com/exchange/autodiscover/responseschema/2006\">\n"
         " <Response xmlns=\"http://schemas.microsoft.com/exchange/autodiscover/outlook/"
         "responseschema/2006a\">\n"
         "  <Account><Protocol><Type>EXCH</Type><Server>" +
         server + "</Server></Protocol></Account>\n </Response>\n</Autodiscover>\n";
}

TestHttpsServer::TestHttpsServer(const std::string& certFile, const std::string& keyFile,
                                 const std::vector<int>& ports) {
  GError* error = nullptr;
  GTlsCertificate* cert =
      g_tls_certificate_new_from_files(certFile.c_str(), keyFile.c_str(), &error);
  if (cert == nullptr) {
    error_ = std::string("certificate: ") + (error ? error->message : "?");
    g_clear_error(&error);
    return;
  }
  server_ = SOUP_SERVER(g_object_new(SOUP_TYPE_SERVER, "tls-certificate", cert, nullptr));
  g_object_unref(cert);
  soup_server_add_handler(server_, nullptr, &TestHttpsServer::handle, this, nullptr);
  for (int port : ports) {
    GInetAddress* loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
    GSocketAddress* address = g_inet_socket_address_new(loopback, static_cast<guint16>(port));
    g_object_unref(loopback);
    const gboolean ok = soup_server_listen(server_, address, SOUP_SERVER_LISTEN_HTTPS, &error);
    g_object_unref(address);
    if (!ok) {
      error_ = "listen on " + std::to_string(port) + ": " + (error ? error->message : "?");
      g_clear_error(&error);
      return;
    }
  }
}

TestHttpsServer::~TestHttpsServer() {
  if (server_ == nullptr) return;
  for (auto* msg : hanging_) {
    soup_server_message_set_status(msg, 503, nullptr);
    soup_server_message_unpause(msg);
    g_object_unref(msg);
  }
  soup_server_disconnect(server_);
  g_object_unref(server_);
}

void TestHttpsServer::route(const std::string& host, int port, Behaviour behaviour) {
  routes_[key(host, port)] = std::move(behaviour);
}

std::size_t TestHttpsServer::requestCount(const std::string& host) const {
  std::size_t n = 0;
  for (const auto& r : requests_)
    if (r.host == host) ++n;
  return n;
}

void TestHttpsServer::handle(SoupServer*, SoupServerMessage* msg, const char* path, GHashTable*,
                             gpointer data) {
  auto* self = static_cast<TestHttpsServer*>(data);
  GUri* uri = soup_server_message_get_uri(msg);
  RecordedRequest request;
  request.host = g_uri_get_host(uri) ? g_uri_get_host(uri) : "";
  request.port = g_uri_get_port(uri);
  request.path = path ? path : "";
  SoupMessageHeaders* headers = soup_server_message_get_request_headers(msg);
  if (const char* auth = soup_message_headers_get_one(headers, "Authorization"))
    request.authorization = auth;
  self->requests_.push_back(request);

  auto it = self->routes_.find(key(request.host, request.port));
  if (it == self->routes_.end() || request.path != "/autodiscover/autodiscover.xml") {
    soup_server_message_set_status(msg, 404, nullptr);
    return;
  }
  const Behaviour& b = it->second;
  auto respond = [msg](unsigned status, const std::string& body) {
    soup_server_message_set_status(msg, status, nullptr);
    soup_server_message_set_response(msg, "text/xml", SOUP_MEMORY_COPY, body.data(), body.size());
  };
  switch (b.kind) {
    case Behaviour::Kind::Document:
      respond(200, b.body);
      return;
    case Behaviour::Kind::Status:
      respond(b.status, b.body);
      return;
    case Behaviour::Kind::Challenge: {
      gchar* encoded =
          g_base64_encode(reinterpret_cast<const guchar*>((b.user + ":" + b.password).data()),
                          b.user.size() + 1 + b.password.size());
      const bool matches = request.authorization == std::string("Basic ") + encoded;
      g_free(encoded);
      if (matches) {
        respond(200, b.body);
      } else {
        soup_message_headers_replace(soup_server_message_get_response_headers(msg),
                                     "WWW-Authenticate", "Basic realm=\"autodiscover\"");
        respond(401, "unauthorized");
      }
      return;
    }
    case Behaviour::Kind::Hang:
      g_object_ref(msg);
      soup_server_message_pause(msg);
      self->hanging_.push_back(msg);
      return;
  }
}

}  // namespace wd::test

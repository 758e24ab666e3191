#include "TestHttpsServer.h"

namespace wd::test {

std::string autodiscoverDocument(const std::string& server) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Autodiscover "
         "xmlns=\"http://schemas.microsoft.com/exchange/autodiscover/responseschema/2006\">\n"
         " <Response xmlns=\"http://schemas.microsoft.com/exchange/autodiscover/outlook/"
         "responseschema/2006a\">\n  <Account><Protocol><Type>EXCH</Type><Server>" +
         server + "</Server></Protocol></Account>\n </Response>\n</Autodiscover>\n";
}

TestHttpsServer::TestHttpsServer(const std::string& certFile, const std::string& keyFile,
                                 const std::vector<int>& ports) {
  g_autoptr(GError) error = nullptr;
  g_autoptr(GTlsCertificate) cert =
      g_tls_certificate_new_from_files(certFile.c_str(), keyFile.c_str(), &error);
  if (cert) {
    server_ = SOUP_SERVER(g_object_new(SOUP_TYPE_SERVER, "tls-certificate", cert, nullptr));
    soup_server_add_handler(server_, nullptr, &TestHttpsServer::handle, this, nullptr);
  }
  const auto on = SoupServerListenOptions(SOUP_SERVER_LISTEN_HTTPS | SOUP_SERVER_LISTEN_IPV4_ONLY);
  for (std::size_t i = 0; cert && i < ports.size() && !error; ++i)
    soup_server_listen_local(server_, static_cast<guint>(ports[i]), on, &error);  // 127.0.0.1
  if (error) error_ = error->message;
}

TestHttpsServer::~TestHttpsServer() {
  for (auto* msg : hanging_) {
    soup_server_message_set_status(msg, 503, nullptr);
    soup_server_message_unpause(msg);
    g_object_unref(msg);
  }
  if (server_) soup_server_disconnect(server_);
  g_clear_object(&server_);
}

void TestHttpsServer::handle(SoupServer*, SoupServerMessage* msg, const char* path, GHashTable*,
                             gpointer self) {
  auto* s = static_cast<TestHttpsServer*>(self);
  GUri* uri = soup_server_message_get_uri(msg);
  const char* auth =
      soup_message_headers_get_one(soup_server_message_get_request_headers(msg), "Authorization");
  const RecordedRequest& r = s->requests_.emplace_back(RecordedRequest{
      g_uri_get_host(uri) ? g_uri_get_host(uri) : "", g_uri_get_port(uri), path, auth ? auth : ""});
  auto it = s->routes_.find(r.host + ":" + std::to_string(r.port));
  if (it == s->routes_.end() || r.path != "/autodiscover/autodiscover.xml")
    return soup_server_message_set_status(msg, 404, nullptr);
  const Behaviour& b = it->second;
  if (b.status == 0) {
    s->hanging_.push_back(static_cast<SoupServerMessage*>(g_object_ref(msg)));
    return soup_server_message_pause(msg);
  }
  g_autofree gchar* basic =
      g_base64_encode(reinterpret_cast<const guchar*>((b.user + ":" + b.password).data()),
                      b.user.size() + 1 + b.password.size());
  const bool refused = !b.user.empty() && r.authorization != std::string("Basic ") + basic;
  if (refused)
    soup_message_headers_replace(soup_server_message_get_response_headers(msg), "WWW-Authenticate",
                                 "Basic realm=\"autodiscover\"");
  const std::string& body = refused ? "unauthorized" : b.body;
  soup_server_message_set_status(msg, refused ? 401 : b.status, nullptr);
  soup_server_message_set_response(msg, "text/xml", SOUP_MEMORY_COPY, body.data(), body.size());
}

}  // namespace wd::test

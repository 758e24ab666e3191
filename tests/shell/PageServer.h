#pragma once
// A loopback HTTPS server for the web view tests: libsoup on 127.0.0.1 (a free port) with a
// certificate made for the test (self-signed, for "localhost" and 127.0.0.1, so the engine
// refuses it until told to accept it). Routes answer a path with a status, a content type and a
// body, with no CORS headers; a route may require a Cookie header, suggest a file name
// (Content-Disposition) or drop the connection part-way through its body. Every request is
// recorded.
#include <libsoup/soup.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace wd::test {

class PageServer {
 public:
  struct Route {
    unsigned status = 200;
    std::string contentType = "text/plain";
    std::string body;
    bool challenge = false;  // 401 with a Basic challenge
    std::string cookie;      // when set: 403 unless the request's Cookie header holds it
    std::string filename;    // when set: suggested as an attachment (Content-Disposition)
    // When set: the whole body's length is announced but only this many bytes are sent before
    // the connection is closed.
    std::optional<std::size_t> dropAfter;
  };

  // Makes the certificate in `dir` and listens.
  explicit PageServer(const std::string& dir);
  ~PageServer();
  PageServer(const PageServer&) = delete;
  PageServer& operator=(const PageServer&) = delete;

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  int port() const { return port_; }
  // https://<host>:<port><path>
  std::string url(const std::string& host, const std::string& path) const;
  GTlsCertificate* certificate() const { return certificate_; }

  void route(const std::string& path, Route route) { routes_[path] = std::move(route); }
  const std::vector<std::string>& requests() const { return requests_; }

 private:
  static void handle(SoupServer*, SoupServerMessage* msg, const char* path, GHashTable*,
                     gpointer self);

  SoupServer* server_ = nullptr;
  GTlsCertificate* certificate_ = nullptr;
  int port_ = 0;
  std::string error_;
  std::map<std::string, Route> routes_;
  std::vector<std::string> requests_;
};

}  // namespace wd::test

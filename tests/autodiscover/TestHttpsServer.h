#pragma once
// An in-process libsoup HTTPS server for the autodiscovery tests. It listens on 127.0.0.1 on the
// given ports and answers by the request's host and port with a configured behaviour.
#include <libsoup/soup.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace wd::test {

struct Behaviour {
  enum class Kind {
    Document,   // 200 with `body` (content type text/xml)
    Status,     // `status` with a short body
    Challenge,  // Basic authentication: 401 + challenge unless the credentials match, then 200
    Hang,       // never answers
  };
  Kind kind = Kind::Document;
  std::string body;
  unsigned status = 200;
  std::string user;      // Challenge
  std::string password;  // Challenge

  static Behaviour document(std::string body) { return {Kind::Document, std::move(body)}; }
  static Behaviour statusCode(unsigned code) { return {Kind::Status, "error", code}; }
  static Behaviour challenge(std::string user, std::string password, std::string body) {
    return {Kind::Challenge, std::move(body), 200, std::move(user), std::move(password)};
  }
  static Behaviour hang() { return {Kind::Hang}; }
};

struct RecordedRequest {
  std::string host;
  int port = 0;
  std::string path;
  std::string authorization;  // the Authorization header, empty when absent
};

class TestHttpsServer {
 public:
  // Loads the certificate and key (PEM files) and listens on 127.0.0.1 on every port.
  TestHttpsServer(const std::string& certFile, const std::string& keyFile,
                  const std::vector<int>& ports);
  ~TestHttpsServer();
  TestHttpsServer(const TestHttpsServer&) = delete;
  TestHttpsServer& operator=(const TestHttpsServer&) = delete;

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

  // Behaviour for requests to host:port. Unknown hosts get 404.
  void route(const std::string& host, int port, Behaviour behaviour);
  const std::vector<RecordedRequest>& requests() const { return requests_; }
  // Requests to `host` (any port).
  std::size_t requestCount(const std::string& host) const;

 private:
  static void handle(SoupServer* server, SoupServerMessage* msg, const char* path,
                     GHashTable* query, gpointer data);

  SoupServer* server_ = nullptr;
  std::string error_;
  std::map<std::string, Behaviour> routes_;
  std::vector<RecordedRequest> requests_;
  std::vector<SoupServerMessage*> hanging_;
};

// A minimal autodiscover response naming `server` in a Protocol of Type EXCH.
std::string autodiscoverDocument(const std::string& server);

}  // namespace wd::test

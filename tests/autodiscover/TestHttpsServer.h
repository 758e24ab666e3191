#pragma once
// An in-process libsoup HTTPS server on 127.0.0.1 answering /autodiscover/autodiscover.xml by the
// request's host and port (404 for anything else), recording every request.
#include <gtest/gtest.h>
#include <libsoup/soup.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "NetworkSandbox.h"
#include "core/CertificateExceptions.h"

namespace wd::test {

struct Behaviour {
  unsigned status = 200;       // 0: never answers
  std::string body;            // content type text/xml
  std::string user, password;  // when set: Basic challenge (401) unless the credentials match
};

struct RecordedRequest {
  std::string host;
  int port = 0;
  std::string path, authorization;  // the Authorization header, empty when absent
};

class TestHttpsServer {
 public:
  TestHttpsServer(const std::string& certFile, const std::string& keyFile,
                  const std::vector<int>& ports);
  ~TestHttpsServer();
  TestHttpsServer(const TestHttpsServer&) = delete;
  TestHttpsServer& operator=(const TestHttpsServer&) = delete;
  const std::string& error() const { return error_; }  // empty when listening
  void route(const std::string& host, int port, Behaviour behaviour) {
    routes_[host + ":" + std::to_string(port)] = std::move(behaviour);
  }
  const std::vector<RecordedRequest>& requests() const { return requests_; }
  std::size_t requestCount(const std::string& host) const {
    return std::count_if(requests_.begin(), requests_.end(),
                         [&](auto& r) { return r.host == host; });
  }

 private:
  static void handle(SoupServer*, SoupServerMessage* msg, const char* path, GHashTable*,
                     gpointer self);
  SoupServer* server_ = nullptr;
  std::string error_;
  std::map<std::string, Behaviour> routes_;
  std::vector<RecordedRequest> requests_;
  std::vector<SoupServerMessage*> hanging_;
};

// A minimal autodiscover response naming `server` in a Protocol of Type EXCH.
std::string autodiscoverDocument(const std::string& server);

// `server` (trusted, ports 443 and 8443) and `untrusted` (port 9443) in the network sandbox.
class HttpsServersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!sandbox.reason().empty()) GTEST_SKIP() << "network sandbox: " << sandbox.reason();
    ASSERT_EQ(server.error() + untrusted.error(), "");
  }
  void TearDown() override { CertificateExceptions::shared().clear(); }
  NetworkSandbox& sandbox = NetworkSandbox::shared();
  TestHttpsServer server{sandbox.certificateFile(), sandbox.keyFile(), {443, 8443}};
  TestHttpsServer untrusted{sandbox.certificateFile(true), sandbox.keyFile(true), {9443}};
};

}  // namespace wd::test

#pragma once
// A loopback HTTPS server (libsoup, self-signed for localhost and 127.0.0.1, plain HTTP beside it)
// recording every request, and a CONNECT proxy that tunnels any host name to it.
#include <libsoup/soup.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/GLibPtr.h"

namespace wd::test {

class PageServer {
 public:
  struct Route {
    unsigned status = 200;
    std::string contentType = "text/plain";
    std::string body;
    bool challenge = false;               // 401 with a Basic challenge
    std::vector<std::string> setCookies;  // Set-Cookie fields of the response
    bool echoCookie = false;              // the body is the request's Cookie header
    std::string cookie;    // when set: 403 unless the request's Cookie header holds it
    std::string filename;  // when set: suggested as an attachment (Content-Disposition)
    // When set: the whole body's length is announced but only this many bytes are sent before
    // the connection is closed.
    std::optional<std::size_t> dropAfter;
    bool holdOpen = false;     // with dropAfter: the connection stays open and silent instead
    bool unannounced = false;  // with dropAfter: no length is announced
    std::string redirect;      // when set: 302 to this URL
  };
  struct Request {
    std::string path;
    std::string cookie;  // the Cookie header, empty when there was none
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
  // http://<host>:<plain port><path>
  std::string plainUrl(const std::string& host, const std::string& path) const;
  GTlsCertificate* certificate() const { return certificate_.get(); }

  void route(const std::string& path, Route route) { routes_[path] = std::move(route); }
  const std::vector<std::string>& requests() const { return requests_; }
  // The same requests as path and raw (still escaped) query: "/p?a=b" ("/p" without a query).
  const std::vector<std::string>& requestURIs() const { return requestURIs_; }
  const std::vector<Request>& requestCookies() const { return requestCookies_; }
  // A WebSocket endpoint at `path`: it sends the handshake's Cookie header.
  void webSocket(const std::string& path);

 private:
  static void handle(SoupServer*, SoupServerMessage* msg, const char* path, GHashTable*,
                     gpointer self);

  GObjectRef<SoupServer> server_;
  GObjectRef<GTlsCertificate> certificate_;
  int port_ = 0;
  int plainPort_ = 0;
  std::string error_;
  std::vector<GObjectRef<GIOStream>> held_;  // connections kept open and silent
  std::map<std::string, Route> routes_;
  std::vector<std::string> requests_;
  std::vector<std::string> requestURIs_;
  std::vector<Request> requestCookies_;
  std::vector<GObjectRef<SoupWebsocketConnection>> sockets_;
};

// Lets names no resolver knows (mail.wendrel.test) reach the server, as domain cookies need.
class TunnelProxy {
 public:
  explicit TunnelProxy(int targetPort);
  ~TunnelProxy();
  TunnelProxy(const TunnelProxy&) = delete;
  TunnelProxy& operator=(const TunnelProxy&) = delete;

  // http://127.0.0.1:<port>, or empty when it could not listen.
  std::string uri() const;

 private:
  struct Tunnel;

  GObjectRef<GSocketService> service_{g_socket_service_new()};
  GObjectRef<GCancellable> cancellable_{g_cancellable_new()};
  int targetPort_ = 0;
  int port_ = 0;
};

}  // namespace wd::test

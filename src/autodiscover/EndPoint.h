#pragma once
// The outcome of an autodiscovery step: a server host and port, or an error code.
#include <cstdint>
#include <optional>
#include <string>

namespace wd {

enum EndPointError : int {
  EndPointErrorNone = 0,
  EndPointErrorTimeout = 1,             // the last attempt ran out of time
  EndPointErrorNotFound = 2,            // lookup failed or found nothing; every attempt failed
  EndPointErrorBadResponse = 3,         // empty response, not XML, or no server named
  EndPointErrorInvalidCredentials = 4,  // the server answered HTTP 401
};

class EndPoint {
 public:
  EndPoint(std::string host, int64_t port) : host_(std::move(host)), port_(port) {}
  explicit EndPoint(int error) : error_(error) {}

  static EndPoint endPointWithHost(std::string host, int64_t port) {
    return EndPoint(std::move(host), port);
  }
  static EndPoint endPointWithError(int error) { return EndPoint(error); }

  // None for an error.
  const std::optional<std::string>& host() const { return host_; }
  int64_t port() const { return port_; }
  int error() const { return error_; }
  bool isSuccess() const { return error_ == EndPointErrorNone; }
  // A server was found, or reached and refused the credentials: either ends the search.
  bool isPartialSuccess() const { return isSuccess() || error_ == EndPointErrorInvalidCredentials; }

  bool operator==(const EndPoint&) const = default;

 private:
  std::optional<std::string> host_;
  int64_t port_ = 0;
  int error_ = EndPointErrorNone;
};

}  // namespace wd

#pragma once
// One DNS query (one owner name, one record type, class IN) run by c-ares on the GLib main loop:
// the query's sockets and timer are watched by the loop, nothing blocks and no thread is used.
// The query ends by itself after the first response: its answers of the asked type are parsed in
// wire order, appended to the results and handed to the delegate one by one, then the delegate
// learns the end (with no error). CNAME steps and other record types give no result.
//
// Failures end the query with an error of domain "kSRVResolverErrorDomain" whose code is the DNS
// Service Discovery code for the c-ares status:
//   name not valid UTF-8, empty, or rejected by c-ares (ARES_EBADNAME)  -> -65540 (bad parameter)
//   ARES_ENOTFOUND (NXDOMAIN)                                            -> -65538 (no such name)
//   ARES_ENODATA (the name exists, no record of the type)               -> -65554 (no such record)
//   ARES_ETIMEOUT (no server answered)                                  -> -65568 (time-out)
//   anything else (refused, server failure, connection refused, malformed response, ...)
//                                                                        -> -65537 (unknown)
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/Json.h"

namespace wd {

// Names one DNS query: record type (33 SRV, 15 MX) and owner name.
struct DNSRecord {
  DNSRecord() = default;
  DNSRecord(int recordType, std::string recordName)
      : type(recordType), name(std::move(recordName)) {}
  int type = 0;
  std::string name;
  bool operator==(const DNSRecord&) const = default;
};

inline constexpr const char* kSRVResolverPriority = "priority";
inline constexpr const char* kSRVResolverWeight = "weight";
inline constexpr const char* kSRVResolverPort = "port";
inline constexpr const char* kSRVResolverTarget = "target";
inline constexpr const char* kSRVResolverErrorDomain = "kSRVResolverErrorDomain";

// DNS Service Discovery error codes used by the resolver.
inline constexpr int32_t kSRVResolverErrorUnknown = -65537;
inline constexpr int32_t kSRVResolverErrorNoSuchName = -65538;
inline constexpr int32_t kSRVResolverErrorBadParam = -65540;
inline constexpr int32_t kSRVResolverErrorNoSuchRecord = -65554;
inline constexpr int32_t kSRVResolverErrorTimeout = -65568;

struct SRVResolverError {
  std::string domain = kSRVResolverErrorDomain;
  int32_t code = 0;
  bool operator==(const SRVResolverError&) const = default;
};

// One answer. For MX: priority = preference, target = exchange, weight and port 0.
struct SRVResult {
  uint16_t priority = 0;
  uint16_t weight = 0;
  uint16_t port = 0;
  std::string target;  // labels joined by ".", 7-bit ASCII
  // The result as a dictionary of exactly the four keys above.
  Json dictionary() const;
  bool operator==(const SRVResult&) const = default;
};

// Maps a c-ares status to the DNS Service Discovery error code (0 for success).
int32_t srvResolverErrorCodeForAresStatus(int status);

class SRVResolver;

// Both operations are optional (empty by default).
class SRVResolverDelegate {
 public:
  virtual ~SRVResolverDelegate() = default;
  // After each result has been appended to the results.
  virtual void srvResolverDidReceiveResult(SRVResolver& resolver, const SRVResult& result) {
    (void)resolver;
    (void)result;
  }
  // Once for every end of a query (success: no error), never for `stop` or destruction.
  virtual void srvResolverDidStopWithError(SRVResolver& resolver,
                                           const std::optional<SRVResolverError>& error) {
    (void)resolver;
    (void)error;
  }
};

class SRVResolver : public std::enable_shared_from_this<SRVResolver> {
 public:
  // Only the low 16 bits of `recordType` are used.
  static std::shared_ptr<SRVResolver> create(std::string srvName, int recordType);
  ~SRVResolver();
  SRVResolver(const SRVResolver&) = delete;
  SRVResolver& operator=(const SRVResolver&) = delete;

  const std::string& srvName() const { return srvName_; }
  int recordType() const { return recordType_; }
  void setDelegate(std::weak_ptr<SRVResolverDelegate> delegate) { delegate_ = std::move(delegate); }

  // Starts the query unless one runs: clears the error, `finished` becomes false. A failure to
  // open the query reaches the delegate before `start` returns.
  void start();
  // Ends a running query without telling anyone; `finished` becomes true. Harmless when idle.
  void stop();

  bool isFinished() const { return finished_; }
  const std::optional<SRVResolverError>& error() const { return error_; }
  // Snapshot of every result so far; a restarted query appends to them.
  std::vector<SRVResult> results() const { return results_; }

  // Turns one answer's record data into a result (no result for data the parser rejects).
  void processRecord(std::span<const uint8_t> rdata);

 private:
  struct Query;
  SRVResolver(std::string srvName, int recordType);

  void startInternal();
  void stopWithError(std::optional<SRVResolverError> error);
  void stopWithDNSServiceError(int32_t code);
  void handleResponse(int status, const std::vector<uint8_t>& response);
  uint16_t wireType() const { return static_cast<uint16_t>(recordType_ & 0xFFFF); }

  const std::string srvName_;
  const int recordType_;
  std::weak_ptr<SRVResolverDelegate> delegate_;
  bool finished_ = false;
  std::optional<SRVResolverError> error_;
  std::vector<SRVResult> results_;
  std::unique_ptr<Query> query_;  // null while no query runs
  uint64_t generation_ = 0;       // bumped by every stop, so deliveries notice it
};

}  // namespace wd

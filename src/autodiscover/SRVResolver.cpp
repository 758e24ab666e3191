#include "autodiscover/SRVResolver.h"

#include <ares.h>
#include <glib-unix.h>
#include <glib.h>

#include <map>
#include <mutex>

#include "autodiscover/DnsRecordParser.h"

namespace wd {

namespace {

void initAresLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { ares_library_init(ARES_LIB_INIT_ALL); });
}

}  // namespace

Json SRVResult::dictionary() const {
  return Json{{kSRVResolverPriority, priority},
              {kSRVResolverWeight, weight},
              {kSRVResolverPort, port},
              {kSRVResolverTarget, target}};
}

int32_t srvResolverErrorCodeForAresStatus(int status) {
  switch (status) {
    case ARES_SUCCESS:
      return 0;
    case ARES_EBADNAME:
      return kSRVResolverErrorBadParam;
    case ARES_ENOTFOUND:
      return kSRVResolverErrorNoSuchName;
    case ARES_ENODATA:
      return kSRVResolverErrorNoSuchRecord;
    case ARES_ETIMEOUT:
      return kSRVResolverErrorTimeout;
    default:
      return kSRVResolverErrorUnknown;
  }
}

// One running c-ares query: its channel, the main-loop watches of its sockets and its timer.
// c-ares calls only record what happened; the resolver acts on it after c-ares has returned, so
// the resolver (and its delegate) may end the query from inside any report.
struct SRVResolver::Query {
  SRVResolver* owner = nullptr;
  ares_channel channel = nullptr;
  std::map<ares_socket_t, guint> watches;
  guint timer = 0;
  bool done = false;
  bool delivered = false;
  int status = ARES_SUCCESS;
  std::vector<uint8_t> response;

  ~Query() {
    if (timer != 0) g_source_remove(timer);
    timer = 0;
    // Closes the sockets (their watches go through socketStateChanged) and cancels the
    // query, whose callback only records the cancellation.
    if (channel != nullptr) ares_destroy(channel);
    for (auto& [fd, id] : watches) g_source_remove(id);
  }

  static void socketStateChanged(void* data, ares_socket_t fd, int readable, int writable) {
    auto* q = static_cast<Query*>(data);
    if (auto it = q->watches.find(fd); it != q->watches.end()) {
      g_source_remove(it->second);
      q->watches.erase(it);
    }
    if (!readable && !writable) return;
    const auto condition =
        static_cast<GIOCondition>((readable ? G_IO_IN : 0) | (writable ? G_IO_OUT : 0));
    q->watches[fd] =
        g_unix_fd_add_full(G_PRIORITY_DEFAULT, fd, condition, &Query::socketReady, q, nullptr);
  }

  static void answered(void* arg, int status, int /*timeouts*/, unsigned char* abuf, int alen) {
    auto* q = static_cast<Query*>(arg);
    if (q->done) return;
    q->done = true;
    q->status = status;
    if (abuf != nullptr && alen > 0) q->response.assign(abuf, abuf + alen);
  }

  static gboolean socketReady(gint fd, GIOCondition condition, gpointer data) {
    auto* q = static_cast<Query*>(data);
    const ares_socket_t readFd =
        (condition & (G_IO_IN | G_IO_HUP | G_IO_ERR)) ? fd : ARES_SOCKET_BAD;
    const ares_socket_t writeFd = (condition & G_IO_OUT) ? fd : ARES_SOCKET_BAD;
    ares_process_fd(q->channel, readFd, writeFd);
    afterProcessing(q);  // may destroy q
    return G_SOURCE_CONTINUE;
  }

  static gboolean timerFired(gpointer data) {
    auto* q = static_cast<Query*>(data);
    q->timer = 0;
    ares_process_fd(q->channel, ARES_SOCKET_BAD, ARES_SOCKET_BAD);
    afterProcessing(q);  // may destroy q
    return G_SOURCE_REMOVE;
  }

  void rescheduleTimer() {
    if (timer != 0) g_source_remove(timer);
    timer = 0;
    if (done) return;
    timeval tv{};
    if (ares_timeout(channel, nullptr, &tv) == nullptr) return;
    const auto ms = static_cast<guint>(tv.tv_sec * 1000 + (tv.tv_usec + 999) / 1000);
    timer = g_timeout_add_full(G_PRIORITY_DEFAULT, ms, &Query::timerFired, this, nullptr);
  }

  // Hands a finished query to the resolver. Touches nothing of `q` afterwards.
  static void afterProcessing(Query* q) {
    q->rescheduleTimer();
    if (!q->done || q->delivered || q->owner == nullptr) return;
    q->delivered = true;
    const int status = q->status;
    const std::vector<uint8_t> response = std::move(q->response);
    q->owner->handleResponse(status, response);
  }
};

std::shared_ptr<SRVResolver> SRVResolver::create(std::string srvName, int recordType) {
  return std::shared_ptr<SRVResolver>(new SRVResolver(std::move(srvName), recordType));
}

SRVResolver::SRVResolver(std::string srvName, int recordType)
    : srvName_(std::move(srvName)), recordType_(recordType) {}

SRVResolver::~SRVResolver() {
  stop();
}

void SRVResolver::start() {
  if (query_) return;
  error_.reset();
  finished_ = false;
  startInternal();
}

void SRVResolver::stop() {
  ++generation_;
  if (query_) {
    auto query = std::move(query_);
    query->owner = nullptr;
  }
  finished_ = true;
}

void SRVResolver::stopWithError(std::optional<SRVResolverError> error) {
  auto self = shared_from_this();
  error_ = error;
  stop();
  if (auto delegate = delegate_.lock()) delegate->srvResolverDidStopWithError(*this, error);
}

void SRVResolver::stopWithDNSServiceError(int32_t code) {
  if (code == 0)
    stopWithError(std::nullopt);
  else
    stopWithError(SRVResolverError{kSRVResolverErrorDomain, code});
}

void SRVResolver::startInternal() {
  if (query_) return;
  // The name must be non-empty UTF-8 without NUL bytes.
  if (srvName_.empty() || srvName_.find('\0') != std::string::npos ||
      !g_utf8_validate(srvName_.data(), static_cast<gssize>(srvName_.size()), nullptr)) {
    stopWithDNSServiceError(kSRVResolverErrorBadParam);
    return;
  }
  initAresLibrary();
  auto query = std::make_unique<Query>();
  query->owner = this;
  ares_options options{};
  options.sock_state_cb = &Query::socketStateChanged;
  options.sock_state_cb_data = query.get();
  const int rc = ares_init_options(&query->channel, &options, ARES_OPT_SOCK_STATE_CB);
  if (rc != ARES_SUCCESS) {
    query->channel = nullptr;
    stopWithDNSServiceError(srvResolverErrorCodeForAresStatus(rc));
    return;
  }
  Query* q = query.get();
  query_ = std::move(query);
  ares_query(q->channel, srvName_.c_str(), dns::kClassIN, wireType(), &Query::answered, q);
  Query::afterProcessing(q);  // a query refused at once is reported here, before start returns
}

void SRVResolver::handleResponse(int status, const std::vector<uint8_t>& response) {
  auto self = shared_from_this();
  const uint64_t generation = generation_;
  if (status != ARES_SUCCESS) {
    stopWithDNSServiceError(srvResolverErrorCodeForAresStatus(status));
    return;
  }
  const auto parsed = dns::parseResponse(response);
  if (!parsed) {
    stopWithDNSServiceError(kSRVResolverErrorUnknown);
    return;
  }
  for (const auto& answer : parsed->answers) {
    // Only answers of the asked type give results; CNAME steps and anything else are skipped.
    if (answer.type != wireType() || answer.rrclass != dns::kClassIN) continue;
    processRecord(answer.rdata);
    if (generation_ != generation) return;  // stopped (and maybe restarted) from the report
    if (self.use_count() == 1) {
      // Every owner dropped the resolver from inside the report: it is as good as destroyed,
      // and destroying a resolver stops it without telling anyone.
      stop();
      return;
    }
  }
  stopWithError(std::nullopt);
}

void SRVResolver::processRecord(std::span<const uint8_t> rdata) {
  const auto wrapped = dns::wrapRecordData(wireType(), rdata);
  if (!wrapped) return;
  const auto parsed = dns::parseResourceRecord(*wrapped);
  if (!parsed) return;
  SRVResult result;
  result.priority = parsed->priority;
  if (parsed->type == dns::kTypeSRV) {
    result.weight = parsed->weight;
    result.port = parsed->port;
  }
  result.target = parsed->target;
  results_.push_back(result);
  auto self = shared_from_this();
  if (auto delegate = delegate_.lock()) delegate->srvResolverDidReceiveResult(*this, result);
}

}  // namespace wd

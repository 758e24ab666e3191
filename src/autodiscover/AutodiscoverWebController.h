#pragma once
// Runs one autodiscovery on behalf of the web page and posts its outcome as the notification
// "accountWebDiscovery" on the default notification centre, with the result dictionary:
//   {"result": "success", "server": host, "port": "<decimal>"}, {"result": "invalidCredentials"}
//   or {"result": "autodiscoverFailed"}.
#include <memory>
#include <string>

#include "autodiscover/Autodiscover.h"
#include "core/Json.h"

namespace wd {

inline constexpr const char* kAccountWebDiscoveryNotification = "accountWebDiscovery";

class AutodiscoverWebController : public AutodiscoverDelegate,
                                  public std::enable_shared_from_this<AutodiscoverWebController> {
 public:
  // The credential lives in memory only, for the life of this object.
  static std::shared_ptr<AutodiscoverWebController> create(std::string username,
                                                           std::string password,
                                                           const std::string& server);
  ~AutodiscoverWebController() override;
  AutodiscoverWebController(const AutodiscoverWebController&) = delete;
  AutodiscoverWebController& operator=(const AutodiscoverWebController&) = delete;

  // Starts the search with `totalSeconds` for all attempts (the page passes 30).
  void startWithTimeout(int totalSeconds);
  // Stops the search, if one runs; nothing is posted.
  void stop();

  // The outcome dictionary for an end point.
  static Json resultDictionary(const EndPoint& endPoint);

  // AutodiscoverDelegate
  void autodiscoverFinished(Autodiscover& autodiscover, const EndPoint& endPoint) override;
  std::optional<Credential> credentials() override { return credential_; }

 private:
  AutodiscoverWebController(std::string username, std::string password, const std::string& server);

  Credential credential_;
  std::shared_ptr<Autodiscover> autodiscover_;
};

}  // namespace wd

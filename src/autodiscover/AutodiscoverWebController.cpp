#include "autodiscover/AutodiscoverWebController.h"

#include "core/NotificationCenter.h"

namespace wd {

std::shared_ptr<AutodiscoverWebController> AutodiscoverWebController::create(
    std::string username, std::string password, const std::string& server) {
  return std::shared_ptr<AutodiscoverWebController>(
      new AutodiscoverWebController(std::move(username), std::move(password), server));
}

AutodiscoverWebController::AutodiscoverWebController(std::string username, std::string password,
                                                     const std::string& server)
    : credential_{std::move(username), std::move(password)},
      autodiscover_(Autodiscover::createWithSRV(server)) {}

AutodiscoverWebController::~AutodiscoverWebController() {
  stop();
}

void AutodiscoverWebController::startWithTimeout(int totalSeconds) {
  if (!autodiscover_) return;
  auto search = autodiscover_;
  search->resolveWithTimeout(totalSeconds, weak_from_this());
}

void AutodiscoverWebController::stop() {
  if (auto search = std::move(autodiscover_)) search->stop();
}

Json AutodiscoverWebController::resultDictionary(const EndPoint& endPoint) {
  if (endPoint.error() == EndPointErrorInvalidCredentials)
    return Json{{"result", "invalidCredentials"}};
  if (endPoint.isSuccess())
    return Json{{"result", "success"},
                {"server", endPoint.host().value_or(std::string())},
                {"port", std::to_string(endPoint.port())}};
  return Json{{"result", "autodiscoverFailed"}};
}

void AutodiscoverWebController::autodiscoverFinished(Autodiscover& autodiscover,
                                                     const EndPoint& endPoint) {
  if (&autodiscover != autodiscover_.get()) return;
  auto self = shared_from_this();
  stop();  // stops and drops the search from inside its own report
  NotificationCenter::defaultCenter().post(kAccountWebDiscoveryNotification,
                                           resultDictionary(endPoint));
}

}  // namespace wd

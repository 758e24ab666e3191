#pragma once
// The one route by which native code raises events in a web window's page. Each window has
// one. Events for the hosted web client's own start-up logic (mail links, shared files, menu
// commands) must not reach the page before it has told the application it is ready
// ("appReady", from DesktopCommand.publishAppReady): until then they are held, one per name (a
// later one replaces an earlier one), and a held script (the callback of a clicked notification)
// runs after them. Other events (sleep, wake, application activation, load and connection
// reports) go to the page at once.
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "core/Json.h"

namespace wd {
namespace bridge {
class ScriptPage;
}

class PageEvents {
 public:
  // The name under which the page reports that its start-up is done.
  static constexpr const char* kAppReady = "appReady";

  // `page` answers the window's current page (nullptr when it has none).
  explicit PageEvents(std::function<bridge::ScriptPage*()> page);
  PageEvents(const PageEvents&) = delete;
  PageEvents& operator=(const PageEvents&) = delete;

  // Raises `name` on `target` ("document" or "window") now; data none gives null.
  void raise(const std::string& name, const std::optional<Json>& data,
             const std::string& target = "document");
  // Raises `name` on `document` once the page is ready; held until then.
  void post(const std::string& name, const std::optional<Json>& data);
  // Runs `script` in the page once it is ready (after the held events); a later held script
  // replaces an earlier one.
  void runWhenReady(std::string script);

  // The page is ready: held events are raised (in name order), then the held script runs.
  // Later calls do nothing more than the first.
  void pageReady();
  bool isReady() const { return ready_; }
  // The page went away (its web process ended) and a new one is loading: events are held
  // again, those still held are kept, until the new page reports ready.
  void closeGate() { ready_ = false; }

  const std::map<std::string, std::optional<Json>>& heldEvents() const { return held_; }
  const std::optional<std::string>& heldScript() const { return heldScript_; }

 private:
  std::function<bridge::ScriptPage*()> page_;
  bool ready_ = false;
  std::map<std::string, std::optional<Json>> held_;
  std::optional<std::string> heldScript_;
};

}  // namespace wd

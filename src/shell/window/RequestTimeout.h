#pragma once
// The 660-second limit on the page's requests. The web engine has no time-out of its own for
// requests, so a script that runs before the page's first script in the allowed documents (the
// application's own page, the mail server's pages) gives every asynchronous XMLHttpRequest and
// every fetch a 660 s time-out when the page sets none: XMLHttpRequest's `timeout` is 660000 after
// open() unless the page set one, and a fetch without its own signal is aborted with a
// "TimeoutError" after 660 s (a Request's own signal still counts).
#include <string>
#include <vector>

typedef struct _WebKitUserContentManager WebKitUserContentManager;

namespace wd::requesttimeout {

inline constexpr int kTimeoutMilliseconds = 660000;

// The script (idempotent: a second copy in the same document changes nothing).
std::string script();

// URL patterns of the documents that get it: the folder `pageDir`/public as a file URL and,
// when `serverSetting` names a host, that host's https pages.
std::vector<std::string> allowList(const std::string& pageDir, const std::string& serverSetting);

// Adds the script to `manager` for the main frame of documents matching `allowList`.
void install(WebKitUserContentManager* manager, const std::vector<std::string>& allowList);

}  // namespace wd::requesttimeout

#pragma once
// Which documents may receive MacGap: the application's own page (a local file:// URL inside
// the web client folder's public/, after resolving `..` and symlinks) or a page of the
// configured mail server's https origin. The script bridge asks this for every new main-frame
// document; inner frames never get MacGap at all.
#include <filesystem>
#include <string>

namespace wd {
class UserDefaults;
}

namespace wd::documentpolicy {

// The rule with explicit inputs. `serverSetting` is "host", "host:port" or an https URL; its
// port, when given, wins, else `portSetting` when it is above 0, else 443. Query, fragment and
// user information do not change the document or its origin; http and every other scheme are
// refused.
bool isAllowedDocument(const std::string& url, const std::filesystem::path& pageDir,
                       const std::string& serverSetting, long long portSetting);

// The rule for the current settings ("MacGap_server", "MacGap_port") of `defaults` and the web
// client folder in use (webclient::directory()).
bool isAllowedDocument(const std::string& url, const UserDefaults& defaults);

}  // namespace wd::documentpolicy

#pragma once
// The address the update checker asks: the update-service URL with its query replaced by
//   server=<server>&client=<client version>&target=<target>&channel=<channel>
// The query text is percent-encoded once for the query component: characters a URL query may
// hold ("&", "=", "/", "?", ":", "@", "+", …) stay, anything else (spaces, "%", "#", non-ASCII
// bytes) is escaped, so a space reaches the service as "%20".
#include <optional>
#include <string>

namespace wd::update {

// The service URL with the query, or none when `serviceURL` is not an absolute http(s) URL.
std::optional<std::string> createComponentsFrom(const std::string& serviceURL,
                                                const std::string& server,
                                                const std::string& client,
                                                const std::string& channel,
                                                const std::string& target);

// The release target of this build: "linux-" followed by the processor architecture it was built
// for, in the service's words ("x64" for x86_64, "arm64" for aarch64, "x86" for i386…i686, else
// the kernel's machine name).
std::string updateTarget();
std::string targetForMachine(const std::string& machine);

}  // namespace wd::update

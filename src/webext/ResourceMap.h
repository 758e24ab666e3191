#pragma once
// Where the page's static resources come from: a "file" URL whose path begins with
// "/webmail/resource/" names a file below the web client's "public/web" folder (the same path
// below it). Used by the web process extension on every outgoing subresource request; GLib
// only, no web engine types.
#include <optional>
#include <string>

namespace wd::webext {

// The file URL that replaces `uri`, or nothing when the request is not a resource of the page:
// another scheme or path, a path with an escaped NUL or a ".." segment, or no folder. Query and
// fragment are not carried over.
std::optional<std::string> mapResourceURI(const std::string& uri, const std::string& folder);

}  // namespace wd::webext

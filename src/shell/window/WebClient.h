#pragma once
// Where the hosted web client lives: the folder holding "public/index.html". It is the bundle's
// resource directory unless the command line (--web-client) or the setting "webClientDirectory"
// names another folder.
#include <filesystem>
#include <optional>
#include <string>

#include "core/LocalConfiguration.h"

namespace wd {
class UserDefaults;
}

namespace wd::webclient {

// The folder in use.
std::filesystem::path directory();
// Uses `dir` from now on (empty: back to the resource directory).
void setDirectory(std::filesystem::path dir);
// The folder named by the setting "webClientDirectory" when it holds public/index.html.
std::optional<std::filesystem::path> directoryFromSettings(const UserDefaults& defaults);
// True when `dir` holds public/index.html.
bool isWebClientDirectory(const std::filesystem::path& dir);

// file:// URL of `resourcePath` (relative, "/"-separated) inside the folder.
std::string fileURL(const std::string& resourcePath);
// The local configuration: the folder's public/config.json, else the bundle's.
LocalConfiguration configuration();

}  // namespace wd::webclient

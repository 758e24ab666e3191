#pragma once
// The local configuration file of the bundled page ("./public/config" of type "json"): the plug-in
// list and the main window's limits and title.
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/Json.h"

namespace wd {

struct LocalConfiguration {
  Json settings;                         // the whole file, null when missing or unparsable
  Json pluginsMap;                       // its "plugins" member, null when absent
  std::vector<std::string> pluginOrder;  // plug-in class names in file order

  // A configuration file larger than this is refused.
  static constexpr std::size_t kMaxFileBytes = 4u * 1024u * 1024u;

  // Reads the file from the bundle; logs why and leaves both values null on failure.
  static LocalConfiguration load();
  // Reads `file` (any folder's "public/config.json"): none when there is no such file; a file
  // that cannot be read or parsed is logged and gives null values.
  static std::optional<LocalConfiguration> loadFile(const std::filesystem::path& file);
  static LocalConfiguration fromText(const std::string& text);

  // Plug-in class names in configuration order: the array's strings, or the object's keys.
  const std::vector<std::string>& pluginNames() const { return pluginOrder; }
};

}  // namespace wd

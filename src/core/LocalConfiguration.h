#pragma once
// The local configuration file of the bundled page ("./public/config" of type "json"): the plug-in
// list and the main window's limits and title.
#include <optional>
#include <string>
#include <vector>

#include "core/Json.h"

namespace wd {

struct LocalConfiguration {
  Json settings;    // the whole file, null when missing or unparsable
  Json pluginsMap;  // its "plugins" member, null when absent
  std::vector<std::string> pluginOrder;  // plug-in class names in file order

  // Reads the file from the bundle; logs a warning and leaves both values null on failure.
  static LocalConfiguration load();
  static LocalConfiguration fromText(const std::string& text);

  // Plug-in class names in configuration order: the array's strings, or the object's keys.
  const std::vector<std::string>& pluginNames() const { return pluginOrder; }
};

}  // namespace wd

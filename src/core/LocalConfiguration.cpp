#include "core/LocalConfiguration.h"

#include <fstream>
#include <sstream>

#include "core/Bundle.h"
#include "core/Log.h"

namespace wd {

LocalConfiguration LocalConfiguration::fromText(const std::string& text) {
  LocalConfiguration config;
  auto parsed = JSONObject(text);
  if (!parsed) return config;
  config.settings = std::move(*parsed);
  if (config.settings.is_object()) {
    auto it = config.settings.find("plugins");
    if (it != config.settings.end()) config.pluginsMap = *it;
  }
  // Object keys come back sorted from Json; read the plug-in list again with order kept.
  if (config.pluginsMap.is_array()) {
    for (const auto& e : config.pluginsMap)
      if (e.is_string()) config.pluginOrder.push_back(e.get<std::string>());
  } else if (config.pluginsMap.is_object()) {
    auto ordered = nlohmann::ordered_json::parse(text, nullptr, false);
    if (!ordered.is_discarded())
      for (const auto& [key, value] : ordered["plugins"].items()) config.pluginOrder.push_back(key);
  }
  return config;
}

LocalConfiguration LocalConfiguration::load() {
  auto path = Bundle::main().pathForResource("config", "json", "./public");
  if (!path) {
    WD_LOG_WARN("Local configuration public/config.json not found in {}",
                Bundle::main().resourcePath().string());
    return {};
  }
  std::ifstream in(*path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  auto config = fromText(buffer.str());
  if (config.settings.is_null()) WD_LOG_WARN("Local configuration {} is not valid JSON", *path);
  return config;
}

}  // namespace wd

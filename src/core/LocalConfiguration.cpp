#include "core/LocalConfiguration.h"

#include <sys/stat.h>

#include <cerrno>

#include "core/Bundle.h"
#include "core/Log.h"
#include "core/SafeFileReader.h"

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

std::optional<LocalConfiguration> LocalConfiguration::loadFile(const std::filesystem::path& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0 && errno == ENOENT) return std::nullopt;
  auto contents = readRegularFile(file, kMaxFileBytes);
  if (!contents.data) {
    WD_LOG_INFO("Local configuration {} cannot be read: {}", file.string(), contents.error);
    return LocalConfiguration{};
  }
  auto config = fromText(*contents.data);
  if (config.settings.is_null())
    WD_LOG_INFO("Local configuration {} is not valid JSON", file.string());
  return config;
}

LocalConfiguration LocalConfiguration::load() {
  const auto file = Bundle::main().resourcePath() / "public" / "config.json";
  if (auto config = loadFile(file)) return std::move(*config);
  WD_LOG_INFO("Local configuration public/config.json not found in {}",
              Bundle::main().resourcePath().string());
  return {};
}

}  // namespace wd

#include "core/Json.h"

#include <cmath>

namespace wd {

namespace {
bool representable(const Json& v, int depth = 0) {
  if (depth > 512) return false;
  switch (v.type()) {
    case Json::value_t::number_float:
      return std::isfinite(v.get<double>());
    case Json::value_t::array:
    case Json::value_t::object:
      for (const auto& e : v)
        if (!representable(e, depth + 1)) return false;
      return true;
    case Json::value_t::binary:
    case Json::value_t::discarded:
      return false;
    default:
      return true;
  }
}
}  // namespace

std::optional<std::string> JSONString(const Json& value) {
  if (!representable(value)) return std::nullopt;
  try {
    return value.dump(2, ' ', false, Json::error_handler_t::strict);
  } catch (const Json::exception&) {
    return std::nullopt;
  }
}

std::optional<Json> JSONObject(const std::string& text) {
  Json parsed = Json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (parsed.is_discarded()) return std::nullopt;
  if (!parsed.is_array() && !parsed.is_object()) return std::nullopt;
  return parsed;
}

}  // namespace wd

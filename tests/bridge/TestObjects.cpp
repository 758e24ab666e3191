#include "TestObjects.h"

#include <cmath>
#include <sstream>

namespace wd::bridge::test {

std::string describe(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::Undefined:
      return "none";
    case Value::Kind::Null:
      return "null";
    case Value::Kind::Bool:
      return *v.asBool() ? "true" : "false";
    case Value::Kind::Number: {
      const double d = *v.asNumber();
      if (std::isnan(d)) return "NaN";
      std::ostringstream out;
      out << d;
      return out.str();
    }
    case Value::Kind::String:
      return "'" + *v.asString() + "'";
    case Value::Kind::Array: {
      std::string out = "[";
      for (const auto& e : *v.asArray()) out += (out.size() > 1 ? "," : "") + describe(e);
      return out + "]";
    }
    case Value::Kind::Dictionary: {
      std::string out = "{";
      for (const auto& [k, e] : v.asDictionary()->entries())
        out += (out.size() > 1 ? "," : "") + k + ":" + describe(e);
      return out + "}";
    }
    case Value::Kind::Object:
      return "object:" + v.asObject()->scriptClass().name();
    case Value::Kind::Script:
      return "script";
    case Value::Kind::Date:
      return "date:" + std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          v.asDate()->time_since_epoch())
                                          .count());
  }
  return "?";
}

}  // namespace wd::bridge::test

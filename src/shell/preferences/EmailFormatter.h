#pragma once
// The check of the e-mail field of the first-run sheet: the whole text must match the address
// pattern below, compared case-sensitively (so an address with capital letters is refused).
// A refused text is described by `errorMessage`.
#include <optional>
#include <string>

namespace wd {

class EmailFormatter {
 public:
  static constexpr const char* kErrorMessage = "This is not valid email address.";
  // The address pattern: a dot-separated or quoted local part, "@", then two or more labels or
  // a bracketed address literal.
  static const char* emailRegex();

  // The text itself when it is an address; otherwise none and, when asked, the description.
  static std::optional<std::string> objectValueForString(const std::string& text,
                                                         std::string* errorDescription = nullptr);
  static bool validateEmail(const std::string& text);
};

}  // namespace wd

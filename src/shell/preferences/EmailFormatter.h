#pragma once
// The check of the e-mail field of the first-run sheet: the whole text must match the address
// pattern below, letters compared without regard to case ("Ann@Example.com" is an address).
// A refused text is described by kErrorMessage (translated when shown).
#include <optional>
#include <string>

#include "core/I18n.h"

namespace wd {

class EmailFormatter {
 public:
  static constexpr const char* kErrorMessage = N_("This is not valid email address.");
  // The address pattern: a dot-separated or quoted local part, "@", then two or more labels or
  // a bracketed address literal.
  static const char* emailRegex();

  // The text itself when it is an address; otherwise none and, when asked, the description.
  static std::optional<std::string> objectValueForString(const std::string& text,
                                                         std::string* errorDescription = nullptr);
  static bool validateEmail(const std::string& text);
};

}  // namespace wd

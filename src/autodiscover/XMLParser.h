#pragma once
// Reads the mail server's host and port out of an autodiscover document (libxml2 + XPath).
// Parsing never touches the network, loads no external entity or DTD, and rejects documents
// that declare entities (no legitimate autodiscover response does; this rules out entity bombs).
// Documents above kMaxDocumentSize, deeper than libxml2's default limit, or otherwise malformed
// give code 3.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "autodiscover/EndPoint.h"

namespace wd {

class XMLParser {
 public:
  static constexpr std::size_t kMaxDocumentSize = 4 * 1024 * 1024;

  XMLParser();
  // The first Server element (document order) of a Protocol whose Type is EXCH; its text split
  // at ":": host = first piece; port = 443 for one piece, else the second piece read as a
  // decimal number in the user's locale (0 when it is not a number). Failures give code 3.
  EndPoint parse(std::string_view document) const;

  const std::string& serverRegex() const { return serverRegex_; }

 private:
  std::string serverRegex_;
};

// Reads a decimal number the way a locale-aware decimal formatter does: optional sign, digits
// with optional grouping separators between them, an optional fraction after the decimal
// separator. The fraction is dropped; values beyond the 64-bit range saturate. None for any
// other text (including surrounding spaces).
std::optional<long long> readLocalizedInteger(std::string_view text, std::string_view decimalPoint,
                                              std::string_view groupingSeparator);
// The same with the separators of the user's locale (LC_NUMERIC from the environment).
std::optional<long long> readLocalizedInteger(std::string_view text);

}  // namespace wd

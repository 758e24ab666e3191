#include "autodiscover/XMLParser.h"

#include <langinfo.h>
#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>
#include <locale.h>

#include <limits>
#include <memory>
#include <vector>

namespace wd {

namespace {

constexpr const char* kServerXPath =
    "//*[local-name() = 'Protocol'][*[local-name()='Type']='EXCH']/*[local-name() = 'Server']";

struct DocFree {
  void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
struct ParserContextFree {
  void operator()(xmlParserCtxt* c) const { xmlFreeParserCtxt(c); }
};
struct XPathContextFree {
  void operator()(xmlXPathContext* c) const { xmlXPathFreeContext(c); }
};
struct XPathObjectFree {
  void operator()(xmlXPathObject* o) const { xmlXPathFreeObject(o); }
};
struct XmlCharFree {
  void operator()(xmlChar* s) const { xmlFree(s); }
};

// Any entity declaration stops the parser: the document is treated as not parseable.
void refuseEntityDeclaration(void* ctx, const xmlChar*, int, const xmlChar*, const xmlChar*,
                             xmlChar*) {
  xmlStopParser(static_cast<xmlParserCtxt*>(ctx));
}

std::vector<std::string_view> splitAtColon(std::string_view text) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  while (true) {
    const auto colon = text.find(':', start);
    if (colon == std::string_view::npos) {
      pieces.push_back(text.substr(start));
      return pieces;
    }
    pieces.push_back(text.substr(start, colon - start));
    start = colon + 1;
  }
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

std::optional<long long> readLocalizedInteger(std::string_view text, std::string_view decimalPoint,
                                              std::string_view groupingSeparator) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  unsigned long long value = 0;
  bool saturated = false;
  std::size_t digits = 0;
  auto startsWith = [&](std::string_view what) {
    return !what.empty() && text.substr(i, what.size()) == what;
  };
  // Integer part: digits, grouping separators only between digits.
  while (i < text.size()) {
    if (isDigit(text[i])) {
      const unsigned d = static_cast<unsigned>(text[i] - '0');
      if (value > (std::numeric_limits<unsigned long long>::max() - d) / 10)
        saturated = true;
      else
        value = value * 10 + d;
      ++digits;
      ++i;
    } else if (digits > 0 && startsWith(groupingSeparator) &&
               i + groupingSeparator.size() < text.size() &&
               isDigit(text[i + groupingSeparator.size()])) {
      i += groupingSeparator.size();
    } else {
      break;
    }
  }
  std::size_t fractionDigits = 0;
  if (startsWith(decimalPoint)) {
    i += decimalPoint.size();
    while (i < text.size() && isDigit(text[i])) {
      ++fractionDigits;
      ++i;
    }
  }
  if (i != text.size() || digits + fractionDigits == 0) return std::nullopt;
  constexpr auto kMax = static_cast<unsigned long long>(std::numeric_limits<long long>::max());
  if (saturated || value > kMax)
    return negative ? std::numeric_limits<long long>::min() : std::numeric_limits<long long>::max();
  const auto signedValue = static_cast<long long>(value);
  return negative ? -signedValue : signedValue;
}

std::optional<long long> readLocalizedInteger(std::string_view text) {
  std::string decimalPoint = ".";
  std::string grouping;
  if (locale_t loc = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr))) {
    if (const char* p = nl_langinfo_l(RADIXCHAR, loc); p && *p) decimalPoint = p;
    if (const char* p = nl_langinfo_l(THOUSEP, loc); p) grouping = p;
    freelocale(loc);
  }
  return readLocalizedInteger(text, decimalPoint, grouping);
}

XMLParser::XMLParser() : serverRegex_(kServerXPath) {}

EndPoint XMLParser::parse(std::string_view document) const {
  const EndPoint bad = EndPoint::endPointWithError(EndPointErrorBadResponse);
  if (document.empty() || document.size() > kMaxDocumentSize) return bad;

  std::unique_ptr<xmlParserCtxt, ParserContextFree> ctxt(xmlNewParserCtxt());
  if (!ctxt || !ctxt->sax) return bad;
  ctxt->sax->entityDecl = &refuseEntityDeclaration;
  // No XML_PARSE_NOENT / DTDLOAD: entities are never substituted and no external DTD or entity
  // is loaded; NONET forbids network access even so.
  const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
  std::unique_ptr<xmlDoc, DocFree> doc(xmlCtxtReadMemory(
      ctxt.get(), document.data(), static_cast<int>(document.size()), nullptr, nullptr, options));
  if (!doc || !ctxt->wellFormed || ctxt->disableSAX) return bad;

  std::unique_ptr<xmlXPathContext, XPathContextFree> xpath(xmlXPathNewContext(doc.get()));
  if (!xpath) return bad;
  std::unique_ptr<xmlXPathObject, XPathObjectFree> result(
      xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(serverRegex_.c_str()), xpath.get()));
  if (!result || result->type != XPATH_NODESET || result->nodesetval == nullptr ||
      result->nodesetval->nodeNr <= 0)
    return bad;
  xmlXPathNodeSetSort(result->nodesetval);
  xmlNode* first = result->nodesetval->nodeTab[0];
  std::unique_ptr<xmlChar, XmlCharFree> value(xmlNodeGetContent(first));
  if (!value) return bad;
  const std::string text(reinterpret_cast<const char*>(value.get()));

  const auto pieces = splitAtColon(text);
  if (pieces.size() == 1) return EndPoint::endPointWithHost(std::string(pieces[0]), 443);
  const auto port = readLocalizedInteger(pieces[1]);
  return EndPoint::endPointWithHost(std::string(pieces[0]), port.value_or(0));
}

}  // namespace wd

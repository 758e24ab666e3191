// Reading the server out of autodiscover documents, hostile documents, locale-aware ports.
#include <gtest/gtest.h>

#include "autodiscover/XMLParser.h"

namespace wd {
namespace {

// A document with the XML declaration (`declaration`) or without it, for a DOCTYPE in front.
std::string doc(const std::string& protocols, const std::string& ns = "", bool declaration = true) {
  return (declaration ? "<?xml version=\"1.0\"?>" : "") + std::string("<Autodiscover") + ns +
         "><Response><Account>" + protocols + "</Account></Response></Autodiscover>";
}
std::string exch(const std::string& server) {
  return "<Protocol><Type>EXCH</Type><Server>" + server + "</Server></Protocol>";
}
std::string repeat(const std::string& text, int times) {
  std::string out;
  while (times-- > 0) out += text;
  return out;
}

TEST(XMLParser, TheServerOfTheFirstExchProtocolAndWhatIsNoAnswer) {
  const EndPoint bad = EndPoint::endPointWithError(EndPointErrorBadResponse);
  const std::string two =
      "<Protocol><Type>EXPR</Type><Server>outside</Server></Protocol>" + exch("inside.example");
  std::string bomb = "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">";
  for (int i = 1; i <= 9; ++i)
    bomb += "<!ENTITY lol" + std::to_string(i) + " \"" +
            repeat("&lol" + (i == 1 ? std::string() : std::to_string(i - 1)) + ";", 10) + "\">";
  std::string nested = exch("n.example");
  for (int i = 0; i < 5000; ++i) nested = "<x>" + nested + "</x>";
  const std::pair<std::string, EndPoint> cases[] = {
      {doc(exch("mail.example.com")), EndPoint("mail.example.com", 443)},
      {doc(exch("mail.example.com:8443")), EndPoint("mail.example.com", 8443)},
      {doc(exch("mail.example.com:https")), EndPoint("mail.example.com", 0)},
      {doc(exch("mail.example.com:443:extra")), EndPoint("mail.example.com", 443)},
      {doc(exch("mail.example.com:")), EndPoint("mail.example.com", 0)},
      {doc(exch("")), EndPoint("", 443)},
      {doc("<Protocol><Type>EXCH</Type><Server/></Protocol>"), EndPoint("", 443)},
      // The text is taken unchanged (no trimming); character data of every kind counts.
      {doc(exch(" host ")), EndPoint(" host ", 443)},
      {doc(exch("host: 25")), EndPoint("host", 0)},
      {doc(exch("ma<![CDATA[il]]>.ex&amp;ample")), EndPoint("mail.ex&ample", 443)},
      // Only an EXCH protocol counts, the first in document order; local names decide.
      {doc(two), EndPoint("inside.example", 443)},
      {doc(two,
           " xmlns=\"http://schemas.microsoft.com/exchange/autodiscover/responseschema/2006\""),
       EndPoint("inside.example", 443)},
      {"<a:Autodiscover xmlns:a=\"urn:x\"><a:Protocol><a:Type>EXCH</a:Type><a:Server>prefixed"
       "</a:Server></a:Protocol></a:Autodiscover>",
       EndPoint("prefixed", 443)},
      {doc(exch("first.example") + exch("second.example")), EndPoint("first.example", 443)},
      // The Server must be a child of the Protocol; the Type must be exactly EXCH.
      {doc("<Protocol><Type>EXCH</Type><X><Server>deep</Server></X></Protocol>"), bad},
      {doc("<Protocol><Type> EXCH</Type><Server>s</Server></Protocol>"), bad},
      {doc("<Protocol><Type>EXCH</Type></Protocol>"), bad},
      {doc(""), bad},
      // Not a document: empty, text, JSON, truncated, a NUL, not UTF-8.
      {"", bad},
      {"not xml at all", bad},
      {"{\"json\": true}", bad},
      {doc(exch("x")).substr(0, 60), bad},
      {std::string("<a>\0</a>", 8), bad},
      {"<a>\xFF\xFE</a>", bad},
      // Entity declarations are refused, so entity bombs cannot expand; even a harmless internal
      // entity, as no autodiscover response needs one.
      {bomb + "]>" + doc(exch("&lol9;"), "", false), bad},
      {"<!DOCTYPE a [<!ENTITY h \"host\">]>" + doc(exch("&h;"), "", false), bad},
      // Nothing outside the document is read; an external DTD is neither loaded nor needed.
      {"<!DOCTYPE a [<!ENTITY x SYSTEM \"file:///etc/hostname\">]>" + doc(exch("&x;"), "", false),
       bad},
      {"<!DOCTYPE a [<!ENTITY % p SYSTEM \"http://127.0.0.1:9/x.dtd\"> %p;]>" +
           doc(exch("h"), "", false),
       bad},
      {"<!DOCTYPE Autodiscover SYSTEM \"http://127.0.0.1:9/a.dtd\">" +
           doc(exch("dtd.example"), "", false),
       EndPoint("dtd.example", 443)},
      // Deep and huge input is rejected; just below the size limit is still read.
      {repeat("<d>", 100000), bad},
      {doc(nested), bad},
      {doc(exch("big") + "<Pad>" + std::string(XMLParser::kMaxDocumentSize, 'p') + "</Pad>"), bad},
      {doc(exch("large") + "<Pad>" + std::string(1 << 20, 'p') + "</Pad>"), EndPoint("large", 443)},
  };
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(XMLParser().parse(text), expected) << text.substr(0, 200);
}

TEST(LocalizedInteger, DecimalStyleWithGroupingAndFractionAndTheUserLocale) {
  const std::tuple<const char*, const char*, const char*, std::optional<long long>> cases[] = {
      {"8443", ".", ",", 8443},
      {"8,443", ".", ",", 8443},
      {"8443.9", ".", ",", 8443},
      {"-25", ".", ",", -25},
      {"+25", ".", ",", 25},
      {".5", ".", ",", 0},
      {"7.", ".", ",", 7},
      {"8.443", ",", ".", 8443},
      {"8443,9", ",", ".", 8443},
      {"1,2", ",", ".", 1},
      {"1\u202F000", ",", "\u202F", 1000},  // multi-byte separator
      {"99999999999999999999999", ".", ",", std::numeric_limits<long long>::max()},
      {"-99999999999999999999999", ".", ",", std::numeric_limits<long long>::min()},
      // Without a grouping separator in the locale, grouping characters are not numbers.
      {"8,443", ".", "", std::nullopt},
  };
  for (const auto& [text, point, grouping, expected] : cases)
    EXPECT_EQ(readLocalizedInteger(text, point, grouping), expected) << text;
  for (const char* text : {"", "https", " 443", "443 ", "4 43", ",443", "443,", "8,,443", "1.2.3",
                           "0x1BB", "1e3", "-", "+", "."})
    EXPECT_FALSE(readLocalizedInteger(text, ".", ",")) << text;
  // The C locale (what tests run with): "." decimal point, no grouping.
  setenv("LC_ALL", "C", 1);
  EXPECT_EQ(readLocalizedInteger("8443"), 8443);
  EXPECT_EQ(readLocalizedInteger("8443.5"), 8443);
  EXPECT_FALSE(readLocalizedInteger("port"));
  unsetenv("LC_ALL");
}

}  // namespace
}  // namespace wd

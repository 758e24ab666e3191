// The server out of autodiscover documents, locale-aware ports, and the autodiscovery values that
// need no network.
#include <gtest/gtest.h>

#include "autodiscover/Autodiscover.h"
#include "autodiscover/AutodiscoverWebController.h"
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

TEST(XMLParser, TheServerOfTheFirstExchProtocolAndWhatIsNoAnswer) {
  const EndPoint bad = EndPoint::endPointWithError(EndPointErrorBadResponse);
  const std::string two =
      "<Protocol><Type>EXPR</Type><Server>outside</Server></Protocol>" + exch("inside.example");
  std::string nested = exch("n.example");
  for (int i = 0; i < 5000; ++i) nested = "<x>" + nested + "</x>";
  const std::pair<std::string, EndPoint> cases[] = {
      {doc(exch("mail.example.com")), EndPoint("mail.example.com", 443)},
      {doc(exch("mail.example.com:8443")), EndPoint("mail.example.com", 8443)},
      {doc(exch("mail.example.com:https")), EndPoint("mail.example.com", 0)},
      {doc(exch("")), EndPoint("", 443)},
      // The text is taken unchanged (no trimming); character data of every kind counts.
      {doc(exch(" host ")), EndPoint(" host ", 443)},
      {doc(exch("ma<![CDATA[il]]>.ex&amp;ample")), EndPoint("mail.ex&ample", 443)},
      // Only an EXCH protocol counts, the first in document order; local names decide.
      {doc(two), EndPoint("inside.example", 443)},
      {doc(two,
           " xmlns=\"http://schemas.microsoft.com/exchange/autodiscover/responseschema/2006\""),
       EndPoint("inside.example", 443)},
      {doc(exch("first.example") + exch("second.example")), EndPoint("first.example", 443)},
      // The Server must be a child of the Protocol; the Type must be exactly EXCH.
      {doc("<Protocol><Type>EXCH</Type><X><Server>deep</Server></X></Protocol>"), bad},
      {doc("<Protocol><Type> EXCH</Type><Server>s</Server></Protocol>"), bad},
      {doc("<Protocol><Type>EXCH</Type></Protocol>"), bad},
      // Not a document: empty, text, a NUL.
      {"", bad},
      {"not xml at all", bad},
      {std::string("<a>\0</a>", 8), bad},
      // Entity declarations are refused (no entity bomb can expand), even a harmless internal one.
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
      {".5", ".", ",", 0},
      {"7.", ".", ",", 7},
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
  EXPECT_EQ(readLocalizedInteger("8443.5"), 8443);
  EXPECT_FALSE(readLocalizedInteger("port"));
  unsetenv("LC_ALL");
}

// Codes 1 to 3 fail; 4 (refused credentials) is a partial success, reported as such.
TEST(Autodiscover, EndPointsOutcomesAttemptsAndTheRequestUrl) {
  const auto outcome = &AutodiscoverWebController::resultDictionary;
  const EndPoint found("s.example.com", 8443);
  EXPECT_TRUE(found.isSuccess() && found.isPartialSuccess());
  EXPECT_EQ(found.error(), 0);
  EXPECT_EQ(outcome(found),
            (Json{{"result", "success"}, {"server", "s.example.com"}, {"port", "8443"}}));
  for (int code : {1, 2, 3}) {
    const EndPoint e = EndPoint::endPointWithError(code);
    EXPECT_FALSE(e.isSuccess() || e.isPartialSuccess() || e.host() || e.port());
    EXPECT_EQ(outcome(e), (Json{{"result", "autodiscoverFailed"}}));
  }
  const EndPoint refused = EndPoint::endPointWithError(EndPointErrorInvalidCredentials);
  EXPECT_TRUE(!refused.isSuccess() && refused.isPartialSuccess());
  EXPECT_EQ(outcome(refused), (Json{{"result", "invalidCredentials"}}));
  // Three attempts for the domain used unchanged.
  auto search = Autodiscover::createWithSRV("Example.COM");
  ASSERT_EQ(search->attempts().size(), 3u);
  EXPECT_EQ(std::get<DNSRecord>(search->attempts()[0]),
            DNSRecord(33, "_autodiscover._tcp.Example.COM"));
  EXPECT_EQ(std::get<DNSRecord>(search->attempts()[1]), DNSRecord(15, "Example.COM"));
  EXPECT_EQ(std::get<EndPoint>(search->attempts()[2]), EndPoint("Example.COM", 443));
  EXPECT_FALSE(search->isRunning());
  search->stop();  // harmless before any start
  EXPECT_EQ(autodiscoverURL("mail.example.com", 8443),
            "https://mail.example.com:8443/autodiscover/autodiscover.xml");
}

}  // namespace
}  // namespace wd

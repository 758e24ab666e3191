// Autodiscovery without a network: the DNS record and response parsers, the server out of
// autodiscover documents, and locale-aware ports.
#include <gtest/gtest.h>

#include <climits>

#include "autodiscover/Autodiscover.h"
#include "autodiscover/DnsRecordParser.h"
#include "autodiscover/SRVResolver.h"
#include "autodiscover/XMLParser.h"

namespace wd {
namespace {

// A document after `prolog`: the XML declaration, or a DOCTYPE.
std::string doc(const std::string& protocols, const std::string& ns = "",
                const std::string& prolog = "<?xml version=\"1.0\"?>") {
  return prolog + "<Autodiscover" + ns + "><Response><Account>" + protocols +
         "</Account></Response></Autodiscover>";
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
      {doc(exch("&h;"), "", "<!DOCTYPE a [<!ENTITY h \"host\">]>"), bad},
      // Nothing outside the document is read; an external DTD is neither loaded nor needed.
      {doc(exch("&x;"), "", "<!DOCTYPE a [<!ENTITY x SYSTEM \"file:///etc/hostname\">]>"), bad},
      {doc(exch("h"), "", "<!DOCTYPE a [<!ENTITY % p SYSTEM \"http://127.0.0.1:9/x.dtd\"> %p;]>"),
       bad},
      {doc(exch("dtd.example"), "", "<!DOCTYPE Autodiscover SYSTEM \"http://127.0.0.1:9/a.dtd\">"),
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
  // With "." decimal point and "," grouping; beyond the range is the nearest limit.
  const std::pair<const char*, long long> cases[] = {
      {"8443", 8443}, {"8,443", 8443}, {"8443.9", 8443}, {"-25", -25}, {".5", 0}, {"7.", 7}};
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(readLocalizedInteger(text, ".", ","), expected) << text;
  EXPECT_EQ(readLocalizedInteger(std::string(23, '9'), ".", ","), LLONG_MAX);
  EXPECT_EQ(readLocalizedInteger("-" + std::string(23, '9'), ".", ","), LLONG_MIN);
  EXPECT_EQ(readLocalizedInteger("1\u202F000", ",", "\u202F"), 1000);  // multi-byte separator
  // Without a grouping separator in the locale, grouping characters are not numbers.
  EXPECT_FALSE(readLocalizedInteger("8,443", ".", ""));
  for (const char* text : {"", "https", " 443", "443 ", "4 43", ",443", "443,", "8,,443", "1.2.3",
                           "0x1BB", "1e3", "-", "+", "."})
    EXPECT_FALSE(readLocalizedInteger(text, ".", ",")) << text;
  // The C locale (what tests run with): "." decimal point, no grouping.
  setenv("LC_ALL", "C", 1);
  EXPECT_EQ(readLocalizedInteger("8443.5"), 8443);
  EXPECT_FALSE(readLocalizedInteger("port"));
  unsetenv("LC_ALL");
}

using namespace dns;
using Bytes = std::vector<uint8_t>;

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes u16(std::size_t v) {
  return {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v & 0xFF)};
}
Bytes name(const std::string& dotted) {
  Bytes out;
  for (std::size_t start = 0, dot = 0; start < dotted.size(); start = dot + 1) {
    dot = std::min(dotted.find('.', start), dotted.size());
    out.push_back(static_cast<uint8_t>(dot - start));
    out.insert(out.end(), dotted.begin() + static_cast<long>(start),
               dotted.begin() + static_cast<long>(dot));
  }
  out.push_back(0);
  return out;
}
Bytes srv(uint16_t prio, uint16_t weight, uint16_t port, const Bytes& target) {
  return cat({u16(prio), u16(weight), u16(port), target});
}
std::optional<ParsedRecord> parseData(const Bytes& data, uint16_t type = kTypeSRV) {
  return parseResourceRecord(*wrapRecordData(type, data));
}
Bytes header(uint16_t qdcount, uint16_t ancount, uint16_t flags = 0x8180) {
  return cat({u16(0x1234), u16(flags), u16(qdcount), u16(ancount), u16(0), u16(0)});
}
Bytes question(const Bytes& n, uint16_t type) {
  return cat({n, u16(type), u16(kClassIN)});
}
Bytes answer(const Bytes& owner, uint16_t type, const Bytes& rdata) {
  return cat({owner, u16(type), u16(kClassIN), u16(0), u16(60), u16(rdata.size()), rdata});
}

TEST(DnsParsers, RejectMalformedRecordsAndResponsesAndEveryTruncationAndKeepUnexpandableDataRaw) {
  Bytes nonAscii = name("mail.example");
  nonAscii[2] = 0xC3;
  const std::string label(63, 'b');  // five of them make a name longer than 255 bytes
  const std::pair<const char*, Bytes> targets[] = {
      {"non-ASCII byte in a label", nonAscii},
      {"compression pointer: no message to point into", {0xC0, 0x0C}},
      {"label length 64", name(label + "b")},
      {"reserved label type", {0x41, 'a', 0}},
      {"name longer than 255 bytes",
       name(label + "." + label + "." + label + "." + label + "." + label)},
      {"no terminating root label", {4, 'm', 'a', 'i', 'l'}},
  };
  for (const auto& [what, target] : targets)
    EXPECT_FALSE(parseData(srv(0, 0, 443, target))) << what;
  EXPECT_FALSE(parseData({0, 1, 0, 2, 0}));  // fixed part too short
  EXPECT_FALSE(parseData({0}, kTypeMX));
  EXPECT_FALSE(parseData({127, 0, 0, 1}, 1));  // unsupported type
  const auto wrapped = *wrapRecordData(kTypeSRV, srv(5, 6, 7, name("a.example.net")));
  for (std::size_t n = 0; n < wrapped.size(); ++n)
    EXPECT_FALSE(parseResourceRecord(std::span(wrapped.data(), n))) << n;
  Bytes lying = wrapped;
  lying[10] = static_cast<uint8_t>(lying[10] + 1);  // RDLENGTH one past the end
  EXPECT_FALSE(parseResourceRecord(lying));
  Bytes badOwner = wrapped;  // the owner name is checked as well
  badOwner[0] = 0xC0;
  EXPECT_FALSE(parseResourceRecord(badOwner));
  // Record data is limited by its 16-bit length.
  EXPECT_TRUE(wrapRecordData(kTypeSRV, Bytes(65535, 0)));
  EXPECT_FALSE(wrapRecordData(kTypeSRV, Bytes(65536, 0)));
  // Responses: loops, forward pointers, missing answers.
  const std::pair<const char*, Bytes> bad[] = {
      {"pointer to itself", cat({header(1, 0), {0xC0, 0x0C, 0, 33, 0, 1}})},
      {"forward pointer", cat({header(1, 0), {0xC0, 0x20, 0, 33, 0, 1}})},
      {"names pointing at each other",
       cat({header(1, 1), question({1, 'a', 0xC0, 0x13}, kTypeSRV),
            answer({1, 'b', 0xC0, 0x0C}, kTypeSRV, srv(0, 0, 1, {0}))})},
      {"not a response", header(0, 0, 0x0100)},
      {"answers missing", cat({header(0, 2), answer(name("x.test"), kTypeSRV, srv(0, 0, 1, {0}))})},
  };
  for (const auto& [what, bytes] : bad) EXPECT_FALSE(parseResponse(bytes)) << what;
  // Every prefix of a valid message is rejected or parsed without reading past its end.
  const Bytes ok = cat({header(1, 1), question(name("_autodiscover._tcp.x.test"), kTypeSRV),
                        answer({0xC0, 0x0C}, kTypeSRV, srv(0, 0, 443, {1, 'h', 0xC0, 0x1F}))});
  ASSERT_TRUE(parseResponse(ok));
  for (std::size_t n = 0; n < ok.size(); ++n)
    EXPECT_FALSE(parseResponse(std::span(ok.data(), n))) << n;
  // SRV data whose target runs past RDLENGTH is not expandable: kept raw, and gives no result.
  const Bytes rdata = srv(0, 0, 443, {4, 'h', 'o', 's', 't'});
  const auto raw = parseResponse(cat({header(0, 1), answer(name("x.test"), kTypeSRV, rdata), {0}}));
  ASSERT_TRUE(raw);
  ASSERT_EQ(raw->answers.size(), 1u);
  EXPECT_EQ(raw->answers[0].rdata, rdata);
  EXPECT_FALSE(parseData(raw->answers[0].rdata));
}

// The resolver keeps only parsable answers, port 0 as is (its reports are SRVResolverNet's).
TEST(SRVResolverRecords, ProcessRecordKeepsOnlyParsableAnswers) {
  auto resolver = SRVResolver::create("_autodiscover._tcp.example.com", 33);
  for (const Bytes& data :
       {srv(1, 2, 0, name("h.example.com")), srv(1, 2, 443, name("h\xC3\xA9.example.com")),
        Bytes{0, 1}, srv(3, 4, 8443, name("i.example.com"))})
    resolver->processRecord(data);
  EXPECT_EQ(resolver->results(),
            (std::vector<SRVResult>{{1, 2, 0, "h.example.com"}, {3, 4, 8443, "i.example.com"}}));
  EXPECT_EQ(resolver->results()[1].dictionary(),
            (Json{{"priority", 3}, {"weight", 4}, {"port", 8443}, {"target", "i.example.com"}}));
  resolver->stop();  // before any start: only sets finished
  EXPECT_TRUE(resolver->isFinished());
  EXPECT_FALSE(resolver->error());
}

}  // namespace
}  // namespace wd

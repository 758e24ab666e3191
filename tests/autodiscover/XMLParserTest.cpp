// Reading the server out of autodiscover documents, hostile documents, locale-aware ports.
#include <gtest/gtest.h>

#include <string>

#include "autodiscover/XMLParser.h"

namespace wd {
namespace {

std::string doc(const std::string& protocols, const std::string& ns = "") {
  return "<?xml version=\"1.0\"?><Autodiscover" + ns + "><Response><Account>" + protocols +
         "</Account></Response></Autodiscover>";
}
std::string exch(const std::string& server) {
  return "<Protocol><Type>EXCH</Type><Server>" + server + "</Server></Protocol>";
}

EndPoint parse(const std::string& text) {
  return XMLParser().parse(text);
}
const EndPoint kBad = EndPoint::endPointWithError(EndPointErrorBadResponse);

TEST(XMLParser, ServerTextGivesHostAndPort) {
  EXPECT_EQ(parse(doc(exch("mail.example.com"))), EndPoint("mail.example.com", 443));
  EXPECT_EQ(parse(doc(exch("mail.example.com:8443"))), EndPoint("mail.example.com", 8443));
  EXPECT_EQ(parse(doc(exch("mail.example.com:https"))), EndPoint("mail.example.com", 0));
  EXPECT_EQ(parse(doc(exch("mail.example.com:443:extra"))), EndPoint("mail.example.com", 443));
  EXPECT_EQ(parse(doc(exch("mail.example.com:"))), EndPoint("mail.example.com", 0));
  EXPECT_EQ(parse(doc(exch(""))), EndPoint("", 443));
  EXPECT_EQ(parse(doc("<Protocol><Type>EXCH</Type><Server/></Protocol>")), EndPoint("", 443));
  // The text is taken unchanged: no trimming.
  EXPECT_EQ(parse(doc(exch(" host "))), EndPoint(" host ", 443));
  EXPECT_EQ(parse(doc(exch("host: 25"))), EndPoint("host", 0));
  // Character data of every kind counts as the element's text.
  EXPECT_EQ(parse(doc(exch("ma<![CDATA[il]]>.ex&amp;ample"))), EndPoint("mail.ex&ample", 443));
}

TEST(XMLParser, OnlyTheServerOfAnExchProtocolCountsFirstInDocumentOrder) {
  const std::string two = "<Protocol><Type>EXPR</Type><Server>outside.example</Server></Protocol>" +
                          exch("inside.example");
  EXPECT_EQ(parse(doc(two)), EndPoint("inside.example", 443));
  EXPECT_EQ(parse(doc(two,
                      " xmlns=\"http://schemas.microsoft.com/exchange/autodiscover/"
                      "responseschema/2006\"")),
            EndPoint("inside.example", 443));
  // Prefixed namespaces and mixed nesting: local names decide.
  EXPECT_EQ(parse("<a:Autodiscover xmlns:a=\"urn:x\"><a:Protocol><a:Type>EXCH</a:Type>"
                  "<a:Server>prefixed.example</a:Server></a:Protocol></a:Autodiscover>"),
            EndPoint("prefixed.example", 443));
  EXPECT_EQ(parse(doc(exch("first.example") + exch("second.example"))),
            EndPoint("first.example", 443));
  // The Server must be a child of the Protocol; the Type must be exactly EXCH.
  EXPECT_EQ(parse(doc("<Protocol><Type>EXCH</Type><X><Server>deep</Server></X></Protocol>")), kBad);
  EXPECT_EQ(parse(doc("<Protocol><Type> EXCH</Type><Server>s</Server></Protocol>")), kBad);
  EXPECT_EQ(parse(doc("<Protocol><Type>EXCH</Type></Protocol>")), kBad);
  EXPECT_EQ(parse(doc("")), kBad);
}

TEST(XMLParser, NonDocumentsGiveCodeThree) {
  EXPECT_EQ(parse(""), kBad);
  EXPECT_EQ(parse("not xml at all"), kBad);
  EXPECT_EQ(parse("{\"json\": true}"), kBad);
  EXPECT_EQ(parse(doc(exch("x")).substr(0, 60)), kBad);  // truncated
  EXPECT_EQ(parse(std::string("<a>\0</a>", 8)), kBad);
  EXPECT_EQ(parse("<a>\xFF\xFE</a>"), kBad);  // not UTF-8
}

TEST(XMLParserHostile, EntityDeclarationsAreRefusedSoEntityBombsCannotExpand) {
  std::string bomb = "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">";
  for (int i = 1; i <= 9; ++i) {
    bomb += "<!ENTITY lol" + std::to_string(i) + " \"";
    for (int j = 0; j < 10; ++j)
      bomb += "&lol" + (i == 1 ? std::string() : std::to_string(i - 1)) + ";";
    bomb += "\">";
  }
  bomb += "]>" + doc(exch("&lol9;")).substr(21);
  EXPECT_EQ(parse(bomb), kBad);
  // Even a harmless internal entity is refused: no autodiscover response needs one.
  EXPECT_EQ(parse("<!DOCTYPE a [<!ENTITY h \"host\">]>" + doc(exch("&h;")).substr(21)), kBad);
}

TEST(XMLParserHostile, NothingOutsideTheDocumentIsRead) {
  EXPECT_EQ(parse("<!DOCTYPE a [<!ENTITY x SYSTEM \"file:///etc/hostname\">]>" +
                  doc(exch("&x;")).substr(21)),
            kBad);
  EXPECT_EQ(parse("<!DOCTYPE a [<!ENTITY % p SYSTEM \"http://127.0.0.1:9/x.dtd\"> %p;]>" +
                  doc(exch("h")).substr(21)),
            kBad);
  // An external DTD is neither loaded nor needed: the document parses on its own.
  EXPECT_EQ(parse("<!DOCTYPE Autodiscover SYSTEM \"http://127.0.0.1:9/a.dtd\">" +
                  doc(exch("dtd.example")).substr(21)),
            EndPoint("dtd.example", 443));
}

TEST(XMLParserHostile, DeepAndHugeInputIsRejected) {
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<d>";
  EXPECT_EQ(parse(deep), kBad);
  std::string nested = exch("n.example");
  for (int i = 0; i < 5000; ++i) nested = "<x>" + nested + "</x>";
  EXPECT_EQ(parse(doc(nested)), kBad);
  std::string huge =
      doc(exch("big.example") + "<Pad>" + std::string(XMLParser::kMaxDocumentSize, 'p') + "</Pad>");
  EXPECT_EQ(parse(huge), kBad);
  // Just below the limit is still read.
  std::string large = doc(exch("large.example") + "<Pad>" + std::string(1 << 20, 'p') + "</Pad>");
  EXPECT_EQ(parse(large), EndPoint("large.example", 443));
}

TEST(LocalizedInteger, DecimalStyleWithGroupingAndFraction) {
  auto en = [](const char* t) { return readLocalizedInteger(t, ".", ","); };
  auto de = [](const char* t) { return readLocalizedInteger(t, ",", "."); };
  EXPECT_EQ(en("8443"), 8443);
  EXPECT_EQ(en("8,443"), 8443);
  EXPECT_EQ(en("8443.9"), 8443);
  EXPECT_EQ(en("-25"), -25);
  EXPECT_EQ(en("+25"), 25);
  EXPECT_EQ(en(".5"), 0);
  EXPECT_EQ(en("7."), 7);
  EXPECT_EQ(de("8.443"), 8443);
  EXPECT_EQ(de("8443,9"), 8443);
  EXPECT_EQ(de("1,2"), 1);
  EXPECT_EQ(readLocalizedInteger("1\u202F000", ",", "\u202F"), 1000);  // multi-byte separator
  EXPECT_EQ(en("99999999999999999999999"), std::numeric_limits<long long>::max());
  EXPECT_EQ(en("-99999999999999999999999"), std::numeric_limits<long long>::min());
  for (const char* text : {"", "https", " 443", "443 ", "4 43", ",443", "443,", "8,,443", "1.2.3",
                           "0x1BB", "1e3", "-", "+", "."})
    EXPECT_FALSE(en(text)) << text;
  // Without a grouping separator in the locale, grouping characters are not numbers.
  EXPECT_FALSE(readLocalizedInteger("8,443", ".", ""));
}

TEST(LocalizedInteger, UserLocaleFromEnvironment) {
  // The C locale (what tests run with): "." decimal point, no grouping.
  setenv("LC_ALL", "C", 1);
  EXPECT_EQ(readLocalizedInteger("8443"), 8443);
  EXPECT_EQ(readLocalizedInteger("8443.5"), 8443);
  EXPECT_FALSE(readLocalizedInteger("port"));
  unsetenv("LC_ALL");
}

}  // namespace
}  // namespace wd

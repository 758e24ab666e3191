// The project's own DNS parsing: wrapped records, SRV/MX record parsing, response messages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "autodiscover/DnsRecordParser.h"
#include "autodiscover/SRVResolver.h"

namespace wd::dns {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes name(const std::string& dotted) {
  Bytes out;
  std::size_t start = 0;
  while (start < dotted.size()) {
    auto dot = dotted.find('.', start);
    if (dot == std::string::npos) dot = dotted.size();
    out.push_back(static_cast<uint8_t>(dot - start));
    out.insert(out.end(), dotted.begin() + static_cast<std::ptrdiff_t>(start),
               dotted.begin() + static_cast<std::ptrdiff_t>(dot));
    start = dot + 1;
  }
  out.push_back(0);
  return out;
}

void u16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v & 0xFF));
}

Bytes srvData(uint16_t prio, uint16_t weight, uint16_t port, const Bytes& target) {
  Bytes b;
  u16(b, prio);
  u16(b, weight);
  u16(b, port);
  b.insert(b.end(), target.begin(), target.end());
  return b;
}

TEST(WrappedRecord, TwentyBytesOfSrvDataGiveThirtyOneBytesWithTheFixedHeader) {
  // 6 fixed bytes + "\4mail\7example\0" (14 bytes) = 20 bytes of record data.
  const Bytes data = srvData(1, 2, 8443, name("mail.example"));
  ASSERT_EQ(data.size(), 20u);
  const auto wrapped = wrapRecordData(kTypeSRV, data);
  ASSERT_TRUE(wrapped);
  ASSERT_EQ(wrapped->size(), 31u);
  const Bytes head(wrapped->begin(), wrapped->begin() + 11);
  EXPECT_EQ(head, (Bytes{0x00, 0x00, 0x21, 0x00, 0x01, 0x00, 0x00, 0x02, 0x9A, 0x00, 0x14}));
  EXPECT_TRUE(std::equal(data.begin(), data.end(), wrapped->begin() + 11));

  const auto parsed = parseResourceRecord(*wrapped);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->owner, "");
  EXPECT_EQ(parsed->type, kTypeSRV);
  EXPECT_EQ(parsed->rrclass, kClassIN);
  EXPECT_EQ(parsed->ttl, 666u);
  EXPECT_EQ(parsed->priority, 1);
  EXPECT_EQ(parsed->weight, 2);
  EXPECT_EQ(parsed->port, 8443);
  EXPECT_EQ(parsed->target, "mail.example");
}

TEST(WrappedRecord, SizeLimitIsTheSixteenBitLength) {
  EXPECT_TRUE(wrapRecordData(kTypeSRV, Bytes(65535, 0)));
  EXPECT_FALSE(wrapRecordData(kTypeSRV, Bytes(65536, 0)));
}

TEST(RecordParser, ExtremeValuesAndRootTarget) {
  auto parsed = parseResourceRecord(*wrapRecordData(kTypeSRV, srvData(65535, 65535, 0, {0})));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->priority, 65535);
  EXPECT_EQ(parsed->weight, 65535);
  EXPECT_EQ(parsed->port, 0);
  EXPECT_EQ(parsed->target, "");
}

TEST(RecordParser, RejectsMalformedData) {
  const auto parse = [](const Bytes& data, uint16_t type = kTypeSRV) {
    return parseResourceRecord(*wrapRecordData(type, data)).has_value();
  };
  // Non-ASCII byte in a label.
  Bytes nonAscii = name("mail.example");
  nonAscii[2] = 0xC3;
  EXPECT_FALSE(parse(srvData(0, 0, 443, nonAscii)));
  // A compression pointer has no message to point into.
  EXPECT_FALSE(parse(srvData(0, 0, 443, Bytes{0xC0, 0x0C})));
  // Label length 64 and the reserved 0x40/0x80 label types.
  Bytes longLabel{64};
  longLabel.insert(longLabel.end(), 64, 'a');
  longLabel.push_back(0);
  EXPECT_FALSE(parse(srvData(0, 0, 443, longLabel)));
  EXPECT_FALSE(parse(srvData(0, 0, 443, Bytes{0x41, 'a', 0})));
  // A name longer than 255 bytes (five labels of 63).
  Bytes tooLong;
  for (int i = 0; i < 5; ++i) {
    tooLong.push_back(63);
    tooLong.insert(tooLong.end(), 63, 'b');
  }
  tooLong.push_back(0);
  EXPECT_FALSE(parse(srvData(0, 0, 443, tooLong)));
  // No terminating root label, fixed part too short, unsupported type.
  EXPECT_FALSE(parse(srvData(0, 0, 443, Bytes{4, 'm', 'a', 'i', 'l'})));
  EXPECT_FALSE(parse(Bytes{0, 1, 0, 2, 0}));
  EXPECT_FALSE(parse(Bytes{0}, kTypeMX));
  EXPECT_FALSE(parse(Bytes{127, 0, 0, 1}, 1));
}

TEST(RecordParser, EveryTruncationAndAnOverlongRdlengthAreRejected) {
  const auto wrapped = *wrapRecordData(kTypeSRV, srvData(5, 6, 7, name("a.example.net")));
  for (std::size_t n = 0; n < wrapped.size(); ++n)
    EXPECT_FALSE(parseResourceRecord(std::span(wrapped.data(), n))) << n;
  Bytes lying = wrapped;
  lying[10] = static_cast<uint8_t>(lying[10] + 1);  // RDLENGTH one past the end
  EXPECT_FALSE(parseResourceRecord(lying));
  // The owner name itself is checked as well.
  Bytes badOwner = wrapped;
  badOwner[0] = 0xC0;
  EXPECT_FALSE(parseResourceRecord(badOwner));
}

// A DNS response message builder.
struct Message {
  Bytes bytes;
  Message(uint16_t qdcount, uint16_t ancount, uint16_t flags = 0x8180) {
    u16(bytes, 0x1234);
    u16(bytes, flags);
    u16(bytes, qdcount);
    u16(bytes, ancount);
    u16(bytes, 0);
    u16(bytes, 0);
  }
  Message& raw(const Bytes& b) {
    bytes.insert(bytes.end(), b.begin(), b.end());
    return *this;
  }
  Message& question(const Bytes& n, uint16_t type) {
    raw(n);
    u16(bytes, type);
    u16(bytes, kClassIN);
    return *this;
  }
  Message& answer(const Bytes& owner, uint16_t type, const Bytes& rdata) {
    raw(owner);
    u16(bytes, type);
    u16(bytes, kClassIN);
    u16(bytes, 0);
    u16(bytes, 60);
    u16(bytes, static_cast<uint16_t>(rdata.size()));
    return raw(rdata);
  }
};

TEST(ResponseParser, AnswersInWireOrderWithCompressedNamesExpanded) {
  // Question "_autodiscover._tcp.example.com" at offset 12; "example.com" starts at offset 31.
  const Bytes qname = name("_autodiscover._tcp.example.com");
  const Bytes ptrQuestion{0xC0, 0x0C};
  Bytes targetViaPointer{4, 'm', 'a', 'i', 'l', 0xC0, 31};  // mail.example.com
  Message m(1, 4);
  m.question(qname, kTypeSRV)
      .answer(ptrQuestion, kTypeCNAME, Bytes{0xC0, 0x0C})
      .answer(ptrQuestion, kTypeSRV, srvData(20, 1, 1001, targetViaPointer))
      .answer(ptrQuestion, kTypeSRV, srvData(0, 1, 1002, name("b.example.com")))
      .answer(ptrQuestion, kTypeSRV, srvData(10, 1, 1003, Bytes{0xC0, 31}));
  const auto response = parseResponse(m.bytes);
  ASSERT_TRUE(response);
  EXPECT_EQ(response->rcode, 0);
  ASSERT_EQ(response->answers.size(), 4u);
  EXPECT_EQ(response->answers[0].type, kTypeCNAME);
  const char* expected[] = {"mail.example.com", "b.example.com", "example.com"};
  const uint16_t ports[] = {1001, 1002, 1003};
  for (int i = 0; i < 3; ++i) {
    const auto& a = response->answers[static_cast<std::size_t>(i + 1)];
    ASSERT_EQ(a.type, kTypeSRV);
    const auto parsed = parseResourceRecord(*wrapRecordData(kTypeSRV, a.rdata));
    ASSERT_TRUE(parsed) << i;
    EXPECT_EQ(parsed->target, expected[i]);
    EXPECT_EQ(parsed->port, ports[i]);
  }
  // Expanded data carries no compression pointer: 6 + wire length of the name.
  EXPECT_EQ(response->answers[1].rdata.size(), 6u + name("mail.example.com").size());
}

TEST(ResponseParser, RejectsLoopsForwardPointersAndTruncation) {
  // A pointer to itself, and one pointing forward.
  Message loop(1, 0);
  loop.raw(Bytes{0xC0, 0x0C, 0, 33, 0, 1});
  EXPECT_FALSE(parseResponse(loop.bytes));
  Message forward(1, 0);
  forward.raw(Bytes{0xC0, 0x20, 0, 33, 0, 1});
  EXPECT_FALSE(parseResponse(forward.bytes));
  // Two names pointing at each other.
  Message mutual(1, 1);
  mutual.question(Bytes{1, 'a', 0xC0, 0x13}, kTypeSRV)
      .answer(Bytes{1, 'b', 0xC0, 0x0C}, kTypeSRV, srvData(0, 0, 1, {0}));
  EXPECT_FALSE(parseResponse(mutual.bytes));
  // Not a response; more answers announced than present.
  EXPECT_FALSE(parseResponse(Message(0, 0, 0x0100).bytes));
  Message missing(0, 2);
  missing.answer(name("x.test"), kTypeSRV, srvData(0, 0, 1, {0}));
  EXPECT_FALSE(parseResponse(missing.bytes));
  // Every prefix of a valid message is rejected or parsed without reading past its end.
  Message ok(1, 1);
  ok.question(name("_autodiscover._tcp.x.test"), kTypeSRV)
      .answer(Bytes{0xC0, 0x0C}, kTypeSRV, srvData(0, 0, 443, Bytes{1, 'h', 0xC0, 0x1F}));
  ASSERT_TRUE(parseResponse(ok.bytes));
  for (std::size_t n = 0; n < ok.bytes.size(); ++n)
    EXPECT_FALSE(parseResponse(std::span(ok.bytes.data(), n))) << n;
}

TEST(ResponseParser, SrvDataWhoseNameRunsPastTheRecordIsKeptRawAndGivesNoResult) {
  // The target's labels continue beyond RDLENGTH: not expandable within the record.
  Message m(0, 1);
  Bytes rdata = srvData(0, 0, 443, Bytes{4, 'h', 'o', 's', 't'});
  m.answer(name("x.test"), kTypeSRV, rdata).raw(Bytes{0});
  const auto response = parseResponse(m.bytes);
  ASSERT_TRUE(response);
  ASSERT_EQ(response->answers.size(), 1u);
  EXPECT_EQ(response->answers[0].rdata, rdata);
  EXPECT_FALSE(parseResourceRecord(*wrapRecordData(kTypeSRV, response->answers[0].rdata)));
}

TEST(ResponseParser, RcodeAndEmptyAnswerSection) {
  const auto nx = parseResponse(Message(0, 0, 0x8183).bytes);
  ASSERT_TRUE(nx);
  EXPECT_EQ(nx->rcode, 3);
  EXPECT_TRUE(nx->answers.empty());
}

// The resolver turns record data into results (no network involved).
class Collector : public SRVResolverDelegate {
 public:
  void srvResolverDidReceiveResult(SRVResolver&, const SRVResult& r) override {
    received.push_back(r);
  }
  std::vector<SRVResult> received;
};

TEST(SRVResolverRecords, ProcessRecordAppendsAndReportsOnlyParsableAnswers) {
  auto resolver = SRVResolver::create("_autodiscover._tcp.example.com", 33);
  auto collector = std::make_shared<Collector>();
  resolver->setDelegate(collector);
  resolver->processRecord(srvData(1, 2, 0, name("h.example.com")));
  Bytes nonAscii = name("h\xC3\xA9.example.com");
  resolver->processRecord(srvData(1, 2, 443, nonAscii));
  resolver->processRecord(Bytes{0, 1});
  resolver->processRecord(srvData(3, 4, 8443, name("i.example.com")));
  ASSERT_EQ(collector->received.size(), 2u);
  EXPECT_EQ(resolver->results(), collector->received);
  EXPECT_EQ(collector->received[0].port, 0);  // port 0 is reported as is
  EXPECT_EQ(collector->received[1].dictionary(),
            (Json{{"priority", 3}, {"weight", 4}, {"port", 8443}, {"target", "i.example.com"}}));
  EXPECT_FALSE(resolver->isFinished());
  resolver->stop();  // before any start: only sets finished
  EXPECT_TRUE(resolver->isFinished());
  EXPECT_FALSE(resolver->error());
}

// An MX record gives its preference and exchange, with weight and port 0.
TEST(SRVResolverRecords, MxRecordsUseThePreferenceAndZeroWeightAndPort) {
  auto resolver = SRVResolver::create("example.com", 15);
  Bytes data;
  u16(data, 5);
  const Bytes exch = name("mx.example.com");
  data.insert(data.end(), exch.begin(), exch.end());
  resolver->processRecord(data);
  ASSERT_EQ(resolver->results().size(), 1u);
  EXPECT_EQ(resolver->results()[0], (SRVResult{5, 0, 0, "mx.example.com"}));
}

}  // namespace
}  // namespace wd::dns

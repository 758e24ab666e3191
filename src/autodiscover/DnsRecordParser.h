#pragma once
// The project's own DNS wire-format parsing, bounds-checked everywhere:
//  - parseResponse: a whole DNS response message as the resolver library hands it over; yields
//    the answers in wire order, with the domain names inside SRV and MX record data expanded
//    (no compression pointers), the way DNS Service Discovery delivers record data.
//  - wrapRecordData / parseResourceRecord: one answer's record data wrapped into a standalone
//    resource record (root owner, class IN, TTL 666) and parsed into its typed fields.
// Malformed input never over-reads: every function answers "none" instead.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace wd::dns {

inline constexpr uint16_t kTypeCNAME = 5;
inline constexpr uint16_t kTypeMX = 15;
inline constexpr uint16_t kTypeSRV = 33;
inline constexpr uint16_t kClassIN = 1;
inline constexpr uint32_t kWrappedTTL = 666;
inline constexpr std::size_t kWrappedHeaderSize = 11;

// One resource record parsed from its wire form. For SRV: priority, weight, port, target.
// For MX: priority holds the preference, target the exchange; weight and port are 0.
struct ParsedRecord {
  std::string owner;  // owner name as text ("" for the root)
  uint16_t type = 0;
  uint16_t rrclass = 0;
  uint32_t ttl = 0;
  uint16_t priority = 0;
  uint16_t weight = 0;
  uint16_t port = 0;
  std::string target;
};

// Wraps record data into one resource record: owner = root (one zero byte), TYPE = `type`,
// CLASS = 1, TTL = 666, RDLENGTH = size of `rdata`, then the data. None when the data does not
// fit the 16-bit RDLENGTH.
std::optional<std::vector<uint8_t>> wrapRecordData(uint16_t type, std::span<const uint8_t> rdata);

// Parses one resource record whose names are uncompressed (a compression pointer is rejected).
// Supports SRV and MX; any other type, truncated or malformed data, a name longer than 255
// bytes, or a name with a byte outside 7-bit ASCII gives none.
std::optional<ParsedRecord> parseResourceRecord(std::span<const uint8_t> record);

struct Answer {
  uint16_t type = 0;
  uint16_t rrclass = 0;
  uint32_t ttl = 0;
  std::vector<uint8_t> rdata;  // names expanded for SRV and MX; other types as received
};

struct Response {
  uint16_t id = 0;
  uint8_t rcode = 0;
  bool truncated = false;
  std::vector<Answer> answers;  // wire order
};

// Parses a DNS response message: header, question section (skipped) and answer section.
// Authority and additional sections are ignored. None when the header or any question or
// answer is malformed (bad label, pointer loop or forward jump out of bounds, record running past
// the end, SRV/MX data whose name does not end inside the record data).
std::optional<Response> parseResponse(std::span<const uint8_t> message);

}  // namespace wd::dns

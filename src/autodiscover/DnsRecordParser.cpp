#include "autodiscover/DnsRecordParser.h"

#include <limits>

namespace wd::dns {

namespace {

constexpr std::size_t kMaxNameLength = 255;  // wire length of a name, labels and root included
constexpr std::size_t kHeaderSize = 12;

// Reads big-endian integers with bounds checks.
class Reader {
 public:
  explicit Reader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  std::size_t offset() const { return offset_; }
  bool seek(std::size_t offset) {
    if (offset > bytes_.size()) return false;
    offset_ = offset;
    return true;
  }
  bool u8(uint8_t& out) {
    if (remaining() < 1) return false;
    out = bytes_[offset_++];
    return true;
  }
  bool u16(uint16_t& out) {
    if (remaining() < 2) return false;
    out = static_cast<uint16_t>((bytes_[offset_] << 8) | bytes_[offset_ + 1]);
    offset_ += 2;
    return true;
  }
  bool u32(uint32_t& out) {
    if (remaining() < 4) return false;
    out = (uint32_t{bytes_[offset_]} << 24) | (uint32_t{bytes_[offset_ + 1]} << 16) |
          (uint32_t{bytes_[offset_ + 2]} << 8) | uint32_t{bytes_[offset_ + 3]};
    offset_ += 4;
    return true;
  }
  std::size_t remaining() const { return bytes_.size() - offset_; }

 private:
  std::span<const uint8_t> bytes_;
  std::size_t offset_ = 0;
};

// Reads an uncompressed name from `bytes` at `offset` (bounded by `bytes`). Appends its wire
// form to `wire` when given, and its text (labels joined by ".") to `text` when given. Sets
// `end` to the offset just past the root label.
bool readPlainName(std::span<const uint8_t> bytes, std::size_t offset, std::size_t& end,
                   std::vector<uint8_t>* wire, std::string* text) {
  std::size_t length = 0;
  bool first = true;
  while (true) {
    if (offset >= bytes.size()) return false;
    const uint8_t len = bytes[offset];
    if (len == 0) {
      if (++length > kMaxNameLength) return false;
      if (wire) wire->push_back(0);
      end = offset + 1;
      return true;
    }
    if (len > 63) return false;  // compression pointers and extended label types
    if (bytes.size() - offset - 1 < len) return false;
    length += 1u + len;
    if (length > kMaxNameLength) return false;
    if (wire)
      wire->insert(wire->end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                   bytes.begin() + static_cast<std::ptrdiff_t>(offset + 1 + len));
    if (text) {
      if (!first) text->push_back('.');
      text->append(reinterpret_cast<const char*>(bytes.data() + offset + 1), len);
    }
    first = false;
    offset += 1u + len;
  }
}

// Reads a possibly compressed name from a whole message. Every compression pointer must point
// strictly before the position it was read from, so that loops are impossible. `end` is the
// offset just past the name's bytes at its original position. Appends the expanded wire form.
bool readMessageName(std::span<const uint8_t> message, std::size_t offset, std::size_t& end,
                     std::vector<uint8_t>* wire) {
  std::size_t length = 0;
  bool jumped = false;
  std::size_t pos = offset;
  while (true) {
    if (pos >= message.size()) return false;
    const uint8_t len = message[pos];
    if ((len & 0xC0) == 0xC0) {
      if (pos + 1 >= message.size()) return false;
      const std::size_t target = (std::size_t{len & 0x3Fu} << 8) | message[pos + 1];
      if (target >= pos) return false;
      if (!jumped) end = pos + 2;
      jumped = true;
      pos = target;
      continue;
    }
    if (len > 63) return false;  // 0x40 and 0x80 label types are not supported
    if (len == 0) {
      if (++length > kMaxNameLength) return false;
      if (wire) wire->push_back(0);
      if (!jumped) end = pos + 1;
      return true;
    }
    if (message.size() - pos - 1 < len) return false;
    length += 1u + len;
    if (length > kMaxNameLength) return false;
    if (wire)
      wire->insert(wire->end(), message.begin() + static_cast<std::ptrdiff_t>(pos),
                   message.begin() + static_cast<std::ptrdiff_t>(pos + 1 + len));
    pos += 1u + len;
  }
}

bool isSevenBitAscii(const std::string& text) {
  for (unsigned char c : text)
    if (c > 0x7F) return false;
  return true;
}

// Expands the name inside SRV (after 6 fixed bytes) or MX (after 2) record data. The name must
// end inside the record data; bytes after it are dropped.
std::optional<std::vector<uint8_t>> expandRecordData(std::span<const uint8_t> message,
                                                     std::size_t rdataOffset, uint16_t rdlength,
                                                     std::size_t fixed) {
  if (rdlength < fixed + 1) return std::nullopt;
  std::vector<uint8_t> out(message.begin() + static_cast<std::ptrdiff_t>(rdataOffset),
                           message.begin() + static_cast<std::ptrdiff_t>(rdataOffset + fixed));
  std::size_t end = 0;
  // Names may point back into earlier parts of the message but must not run past the record.
  const auto bounded = message.first(rdataOffset + rdlength);
  if (!readMessageName(bounded, rdataOffset + fixed, end, &out)) return std::nullopt;
  return out;
}

}  // namespace

std::optional<std::vector<uint8_t>> wrapRecordData(uint16_t type, std::span<const uint8_t> rdata) {
  if (rdata.size() > std::numeric_limits<uint16_t>::max()) return std::nullopt;
  const auto len = static_cast<uint16_t>(rdata.size());
  std::vector<uint8_t> out;
  out.reserve(kWrappedHeaderSize + rdata.size());
  out.push_back(0);  // owner: the root
  out.push_back(static_cast<uint8_t>(type >> 8));
  out.push_back(static_cast<uint8_t>(type & 0xFF));
  out.push_back(0);  // class IN
  out.push_back(static_cast<uint8_t>(kClassIN));
  out.push_back(static_cast<uint8_t>(kWrappedTTL >> 24));
  out.push_back(static_cast<uint8_t>((kWrappedTTL >> 16) & 0xFF));
  out.push_back(static_cast<uint8_t>((kWrappedTTL >> 8) & 0xFF));
  out.push_back(static_cast<uint8_t>(kWrappedTTL & 0xFF));
  out.push_back(static_cast<uint8_t>(len >> 8));
  out.push_back(static_cast<uint8_t>(len & 0xFF));
  out.insert(out.end(), rdata.begin(), rdata.end());
  return out;
}

std::optional<ParsedRecord> parseResourceRecord(std::span<const uint8_t> record) {
  ParsedRecord parsed;
  std::size_t end = 0;
  if (!readPlainName(record, 0, end, nullptr, &parsed.owner)) return std::nullopt;
  if (!isSevenBitAscii(parsed.owner)) return std::nullopt;
  Reader r(record);
  r.seek(end);
  uint16_t rdlength = 0;
  if (!r.u16(parsed.type) || !r.u16(parsed.rrclass) || !r.u32(parsed.ttl) || !r.u16(rdlength))
    return std::nullopt;
  if (r.remaining() < rdlength) return std::nullopt;
  const auto rdata = record.subspan(r.offset(), rdlength);
  Reader d(rdata);
  std::size_t fixed = 0;
  switch (parsed.type) {
    case kTypeSRV:
      if (!d.u16(parsed.priority) || !d.u16(parsed.weight) || !d.u16(parsed.port))
        return std::nullopt;
      fixed = 6;
      break;
    case kTypeMX:
      if (!d.u16(parsed.priority)) return std::nullopt;
      fixed = 2;
      break;
    default:
      return std::nullopt;
  }
  if (!readPlainName(rdata, fixed, end, nullptr, &parsed.target)) return std::nullopt;
  if (!isSevenBitAscii(parsed.target)) return std::nullopt;
  return parsed;
}

std::optional<Response> parseResponse(std::span<const uint8_t> message) {
  Reader r(message);
  Response response;
  uint16_t flags = 0, qdcount = 0, ancount = 0, nscount = 0, arcount = 0;
  if (message.size() < kHeaderSize) return std::nullopt;
  r.u16(response.id);
  r.u16(flags);
  r.u16(qdcount);
  r.u16(ancount);
  r.u16(nscount);
  r.u16(arcount);
  if ((flags & 0x8000) == 0) return std::nullopt;  // not a response
  response.truncated = (flags & 0x0200) != 0;
  response.rcode = static_cast<uint8_t>(flags & 0x000F);
  for (uint16_t i = 0; i < qdcount; ++i) {
    std::size_t end = 0;
    if (!readMessageName(message, r.offset(), end, nullptr)) return std::nullopt;
    uint16_t qtype = 0, qclass = 0;
    if (!r.seek(end) || !r.u16(qtype) || !r.u16(qclass)) return std::nullopt;
  }
  response.answers.reserve(std::min<std::size_t>(ancount, message.size() / 11));
  for (uint16_t i = 0; i < ancount; ++i) {
    std::size_t end = 0;
    if (!readMessageName(message, r.offset(), end, nullptr)) return std::nullopt;
    Answer answer;
    uint16_t rdlength = 0;
    if (!r.seek(end) || !r.u16(answer.type) || !r.u16(answer.rrclass) || !r.u32(answer.ttl) ||
        !r.u16(rdlength))
      return std::nullopt;
    if (r.remaining() < rdlength) return std::nullopt;
    const std::size_t rdataOffset = r.offset();
    std::optional<std::vector<uint8_t>> expanded;
    if (answer.type == kTypeSRV)
      expanded = expandRecordData(message, rdataOffset, rdlength, 6);
    else if (answer.type == kTypeMX)
      expanded = expandRecordData(message, rdataOffset, rdlength, 2);
    if (expanded) {
      answer.rdata = std::move(*expanded);
    } else {
      // Other types, and SRV/MX data whose name cannot be expanded, as received: the record
      // parser rejects the latter (it accepts no compression pointers and no truncation).
      answer.rdata.assign(message.begin() + static_cast<std::ptrdiff_t>(rdataOffset),
                          message.begin() + static_cast<std::ptrdiff_t>(rdataOffset + rdlength));
    }
    r.seek(rdataOffset + rdlength);
    response.answers.push_back(std::move(answer));
  }
  (void)nscount;
  (void)arcount;
  return response;
}

}  // namespace wd::dns

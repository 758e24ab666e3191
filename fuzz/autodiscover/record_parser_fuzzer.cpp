// libFuzzer target: the DNS record parser and the response parser on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "autodiscover/DnsRecordParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace wd::dns;
  const std::span<const uint8_t> bytes(data, size);
  // As a whole resource record.
  (void)parseResourceRecord(bytes);
  // As record data, wrapped the way the resolver wraps it.
  for (uint16_t type : {kTypeSRV, kTypeMX})
    if (auto wrapped = wrapRecordData(type, bytes)) (void)parseResourceRecord(*wrapped);
  // As a response message, each answer going through the same path as in the resolver.
  if (auto response = parseResponse(bytes)) {
    for (const auto& answer : response->answers)
      if (auto wrapped = wrapRecordData(answer.type, answer.rdata))
        (void)parseResourceRecord(*wrapped);
  }
  return 0;
}

// libFuzzer target: the DNS record parser and the response parser on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "autodiscover/DnsRecordParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace wd::dns;
  const std::span<const uint8_t> bytes(data, size);
  (void)parseResourceRecord(bytes);
  for (uint16_t type : {kTypeSRV, kTypeMX})
    if (auto wrapped = wrapRecordData(type, bytes)) (void)parseResourceRecord(*wrapped);
  // As record data and as a response message, wrapped the way the resolver wraps it.
  if (auto response = parseResponse(bytes))
    for (const auto& answer : response->answers)
      if (auto wrapped = wrapRecordData(answer.type, answer.rdata))
        (void)parseResourceRecord(*wrapped);
  return 0;
}

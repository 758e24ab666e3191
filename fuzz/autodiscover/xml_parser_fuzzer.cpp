// libFuzzer target: the autodiscover response parser on arbitrary documents.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "autodiscover/XMLParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const wd::XMLParser parser;
  (void)parser.parse(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}

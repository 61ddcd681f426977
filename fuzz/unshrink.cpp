// Unshrink (method 1) over arbitrary entry data. Byte 0 is unused.

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzzsupport::DecodeOne(data, size, 1, 0);
}

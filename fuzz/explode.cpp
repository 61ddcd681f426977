// Explode (method 6) over arbitrary entry data. Byte 0: the general-purpose flag
// bits 1 and 2, which choose the dictionary size and the number of trees.

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  return fuzzsupport::DecodeOne(data, size, 6, data[0] & 0x06);
}

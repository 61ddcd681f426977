// Unreduce (methods 2 to 5) over arbitrary entry data. Byte 0: the reduce factor
// less one in its low two bits.

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  return fuzzsupport::DecodeOne(data, size, static_cast<std::uint16_t>(2 + (data[0] & 3)), 0);
}

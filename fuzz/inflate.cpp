// Inflate (and the stored copy, and the cipher in front of both) over arbitrary
// entry data. Byte 0: bit 0 encrypted, bit 1 stored instead of deflated, bit 2 an
// output that offers its memory for decoding in place, bit 3 Deflate64 instead of
// Deflate.

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint16_t method = (data[0] & 2) ? 0 : (data[0] & 8) ? 9 : 8;
  return fuzzsupport::DecodeOne(data, size, method, data[0] & 1, (data[0] & 4) != 0);
}

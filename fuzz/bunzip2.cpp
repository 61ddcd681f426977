// bzip2 (method 12) through libbz2, over arbitrary entry data: a refused stream must
// fail its entry cleanly. Byte 0 is unused.

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzzsupport::DecodeOne(data, size, 12, 0);
}

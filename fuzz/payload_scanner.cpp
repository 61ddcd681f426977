// The payload scanner and the Base64 decoder over arbitrary document text: every
// element found lies inside the text, the scan always moves forward, and the
// decoder never yields more than three bytes per four input bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "converter/binaries.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::size_t offset = 0;
  std::string_view id, payload;
  for (;;) {
    const std::size_t before = offset;
    const bool found = corvane::NextTaggedElement(text, offset, "binary", "id", id, payload);
    if (offset < before || offset > text.size()) std::abort();
    if (!found) break;
    if (offset == before) std::abort();  // the scan must move on
    if (payload.data() < text.data() || payload.data() + payload.size() > text.data() + text.size()) std::abort();
    if (id.data() < text.data() || id.data() + id.size() > text.data() + text.size()) std::abort();
    const std::string bytes = corvane::DecodeBase64(payload);
    if (bytes.size() > payload.size() / 4 * 3) std::abort();
    corvane::PayloadIdIsSafe(id);
  }
  corvane::DecodeBase64(text);
  return 0;
}

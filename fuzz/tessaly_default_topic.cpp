// Fuzzes the default-topic lookup with crafted "/#WINDOWS", "/#STRINGS" and
// "/#SYSTEM" objects, and the topic's conversion from the code page of the
// language that "/#SYSTEM" names.
//
// Input layout: one flag byte (bit 0, 1, 2: "/#WINDOWS", "/#STRINGS", "/#SYSTEM"
// exist; bit 3, 4: the windows or strings directory entry claims 64 KiB more than can
// be read; bit 5: "/#SYSTEM" claims 2^62 bytes), the byte counts of the windows and
// strings objects as 16-bit little-endian values, then the windows bytes, the strings
// bytes, and the system bytes to the end.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "chmtopic/default_topic.h"
#include "chmtopic/memory_object_reader.h"
#include "platform/code_page.h"

namespace {

std::string Take(const std::uint8_t*& data, std::size_t& size, std::size_t count) {
  count = std::min(count, size);
  std::string bytes(reinterpret_cast<const char*>(data), count);
  data += count;
  size -= count;
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  const std::size_t inputSize = size;
  const std::uint8_t flags = data[0];
  const std::size_t windowsSize = data[1] | data[2] << 8;
  const std::size_t stringsSize = data[3] | data[4] << 8;
  data += 5;
  size -= 5;
  std::string windows = Take(data, size, windowsSize);
  std::string strings = Take(data, size, stringsSize);
  std::string system = Take(data, size, size);

  tessaly::TMemoryObjectReader chm;
  constexpr std::uint64_t extra = 64 * 1024;
  if (flags & 0x01) {
    const std::uint64_t claimed = windows.size() + (flags & 0x08 ? extra : 0);
    chm.AddObject("/#WINDOWS", std::move(windows), claimed);
  }
  if (flags & 0x02) {
    const std::uint64_t claimed = strings.size() + (flags & 0x10 ? extra : 0);
    chm.AddObject("/#STRINGS", std::move(strings), claimed);
  }
  if (flags & 0x04) {
    const std::uint64_t claimed = flags & 0x20 ? std::uint64_t{1} << 62 : system.size();
    chm.AddObject("/#SYSTEM", std::move(system), claimed);
  }
  const std::string topic = tessaly::LookUpDefaultTopic(chm);
  // A topic is a NUL-free piece of the bytes given, never longer than all of them.
  if (topic.find('\0') != std::string::npos || topic.size() > inputSize) __builtin_trap();
  if (const auto language = tessaly::FindSystemLanguage(chm)) {
    if (const std::uint32_t codePage = tessaly::AnsiCodePageOfLanguage(*language)) {
      platform::CodePageToUtf8(codePage, topic);
    }
  }
  return 0;
}

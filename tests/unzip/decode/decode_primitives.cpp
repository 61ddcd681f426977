#include "tests/unzip/decode/decode_primitives.h"

#include <algorithm>
#include <cstring>

namespace decodetest {

std::int32_t TMemoryStream::Read(void* buffer, std::int32_t count) {
  const auto size = static_cast<std::int64_t>(data.size());
  const auto n = static_cast<std::int32_t>(std::max<std::int64_t>(0, std::min<std::int64_t>(count, size - pos)));
  if (n > 0) std::memcpy(buffer, data.data() + pos, static_cast<std::size_t>(n));
  pos += n;
  return n;
}

std::int32_t TMemoryStream::Write(const void* buffer, std::int32_t count) {
  writes.push_back(count);
  std::int32_t n = count;
  if (writeLimit >= 0)
    n = static_cast<std::int32_t>(std::max<std::int64_t>(0, std::min<std::int64_t>(count, writeLimit - pos)));
  if (static_cast<std::size_t>(pos) + static_cast<std::size_t>(n) > data.size())
    data.resize(static_cast<std::size_t>(pos + n));
  std::memcpy(data.data() + pos, buffer, static_cast<std::size_t>(n));
  pos += n;
  return n;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, std::int16_t origin) {
  if (origin == kestrel::soFromBeginning)
    pos = offset;
  else if (origin == kestrel::soFromCurrent)
    pos += offset;
  else
    pos = static_cast<std::int64_t>(data.size()) + offset;
  return pos;
}

std::uint8_t* TMemoryStream::DirectStorage(std::int64_t count) {
  if (!inPlace) return nullptr;
  storage = std::make_shared_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(count));
  return storage.get();
}

std::vector<std::uint32_t> CanonicalCodes(const std::vector<int>& lengths) {
  int count[17] = {};
  for (int l : lengths) ++count[l];
  count[0] = 0;
  std::uint32_t next[17] = {};
  std::uint32_t code = 0;
  for (int bits = 1; bits <= 16; ++bits) {
    code = (code + static_cast<std::uint32_t>(count[bits - 1])) << 1;
    next[bits] = code;
  }
  std::vector<std::uint32_t> codes(lengths.size());
  for (std::size_t i = 0; i < lengths.size(); ++i)
    if (lengths[i] != 0) codes[i] = next[lengths[i]]++;
  return codes;
}

}  // namespace decodetest

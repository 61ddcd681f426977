#include "unzip/stream_source.h"

#include <algorithm>
#include <cstring>

#include "unzip/decode/decode_errors.h"
#include "unzip/decode/zip_format.h"

namespace kestrel {
namespace {

/// Bytes read from the stream in one go.
constexpr std::int32_t Block = 65536;
/// Kept bytes are dropped once this many lie behind what must be kept: one move
/// of the rest per megabyte read.
constexpr std::int64_t DropThreshold = 1024 * 1024;

bool IsRecordSignature(std::uint32_t signature) {
  return signature == TLocalHeaderLayout::Signature || signature == TCentralHeaderLayout::Signature ||
         signature == TEndCentralLayout::Signature || signature == TZip64EndCentralLayout::Signature;
}

}  // namespace

std::optional<TStreamedDescriptor> DescriptorAfterData(TStream& stream, std::int64_t at, std::uint64_t compressed,
                                                       std::uint64_t uncompressed, bool wide) {
  const std::int32_t sizeBytes = wide ? 8 : 4;
  const std::int32_t bare = 4 + 2 * sizeBytes;  // the CRC and the two sizes
  std::uint8_t bytes[4 + 20] = {};
  const std::int64_t here = stream.Position();
  stream.Seek(at, soFromBeginning);
  const std::int32_t got = stream.Read(bytes, 4 + bare);
  stream.Seek(here, soFromBeginning);
  auto sizeAt = [&](const std::uint8_t* p) { return wide ? GetU64(p) : std::uint64_t{GetU32(p)}; };
  auto fits = [&](const std::uint8_t* d) {
    return sizeAt(d + 4) == compressed && sizeAt(d + 4 + sizeBytes) == uncompressed;
  };
  if (got >= 4 + bare && GetU32(bytes) == DataDescriptorSig && fits(bytes + 4))
    return TStreamedDescriptor{at + 4 + bare, GetU32(bytes + 4), compressed, uncompressed};
  if (got >= bare && fits(bytes)) return TStreamedDescriptor{at + bare, GetU32(bytes), compressed, uncompressed};
  return std::nullopt;
}

std::int32_t TPipeStream::Read(void* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  const std::int64_t got = file_.Read(buffer, static_cast<std::size_t>(count));
  if (got <= 0) return 0;
  position_ += got;
  return static_cast<std::int32_t>(got);
}

std::int64_t TPipeStream::Seek(std::int64_t offset, std::int16_t origin) {
  if (origin == soFromCurrent && offset == 0) return position_;
  throw Exception("a stream read from a pipe cannot seek");
}

std::int32_t TStreamSource::Read(void* buffer, std::int32_t count) {
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::int32_t total = 0;
  while (total < count) {
    if (position_ >= keptStart_ + static_cast<std::int64_t>(kept_.size()) && !Fill()) {
      // Zeros for one refill at most: data that does not end in them never ends.
      const std::int32_t pad = std::min<std::int32_t>(count - total, padLeft_);
      std::memset(out + total, 0, static_cast<std::size_t>(pad));
      padLeft_ -= pad;
      position_ += pad;
      return total + pad;
    }
    const std::int64_t available = keptStart_ + static_cast<std::int64_t>(kept_.size()) - position_;
    const auto take = static_cast<std::int32_t>(std::min<std::int64_t>(available, count - total));
    std::memcpy(out + total, kept_.data() + (position_ - keptStart_), static_cast<std::size_t>(take));
    position_ += take;
    total += take;
  }
  return total;
}

std::int64_t TStreamSource::Seek(std::int64_t offset, std::int16_t origin) {
  if (origin != soFromBeginning && origin != soFromCurrent)
    throw EFatalUnzipError("Premature end of file reached");  // a stream has no end to measure
  const std::int64_t target = origin == soFromBeginning ? offset : position_ + offset;
  if (target < keptStart_) throw EFatalUnzipError("Premature end of file reached");
  // Forward past what has arrived: the bytes between are read and passed over,
  // the position going along, so that they need not all be kept.
  for (;;) {
    const std::int64_t head = keptStart_ + static_cast<std::int64_t>(kept_.size());
    if (target <= head) {
      position_ = target;
      break;
    }
    position_ = head;
    if (!Fill()) break;
  }
  return position_;
}

bool TStreamSource::Fill() {
  if (ended_) return false;
  // What must stay: the stretch behind the position, and what the watch for a
  // descriptor still looks back at (the CRC and sizes in front of a record).
  std::int64_t keepFrom = position_ - KeptBehind;
  if (watching_) keepFrom = std::min(keepFrom, scanFrom_ - 24);
  if (keepFrom - keptStart_ >= DropThreshold) {
    kept_.erase(kept_.begin(), kept_.begin() + (keepFrom - keptStart_));
    keptStart_ = keepFrom;
  }
  const std::size_t old = kept_.size();
  kept_.resize(old + Block);
  const std::int32_t got = std::max<std::int32_t>(inner_.Read(kept_.data() + old, Block), 0);
  kept_.resize(old + static_cast<std::size_t>(got));
  if (got == 0) {
    ended_ = true;
    return false;
  }
  if (watching_) Scan();
  return true;
}

void TStreamSource::WatchForDescriptor(std::int64_t dataStart, bool wide) {
  watching_ = true;
  wide_ = wide;
  found_ = {};
  dataStart_ = scanFrom_ = std::max(dataStart, keptStart_);
  Scan();
}

void TStreamSource::Scan() {
  const std::int64_t sizeBytes = wide_ ? 8 : 4;
  const std::int64_t bare = 4 + 2 * sizeBytes;  // the CRC and the two sizes
  const std::int64_t head = keptStart_ + static_cast<std::int64_t>(kept_.size());
  auto at = [&](std::int64_t offset) { return kept_.data() + (offset - keptStart_); };
  auto sizeAt = [&](const std::uint8_t* p) { return wide_ ? GetU64(p) : std::uint64_t{GetU32(p)}; };
  // A place is looked at once the longest record it may start has arrived whole.
  for (; watching_ && scanFrom_ + 4 + bare <= head; ++scanFrom_) {
    const std::int64_t p = scanFrom_;
    const std::uint8_t* bytes = at(p);
    if (bytes[0] != 'P' || bytes[1] != 'K') continue;
    const std::uint32_t signature = GetU32(bytes);
    if (signature == DataDescriptorSig && sizeAt(bytes + 8) == static_cast<std::uint64_t>(p - dataStart_)) {
      found_ = {p + 4 + bare, GetU32(bytes + 4), sizeAt(bytes + 8), sizeAt(bytes + 8 + sizeBytes)};
      watching_ = false;
    } else if (IsRecordSignature(signature) && p - bare >= dataStart_) {
      const std::uint8_t* descriptor = at(p - bare);
      if (sizeAt(descriptor + 4) == static_cast<std::uint64_t>(p - bare - dataStart_)) {
        found_ = {p, GetU32(descriptor), sizeAt(descriptor + 4), sizeAt(descriptor + 4 + sizeBytes)};
        watching_ = false;
      }
    }
  }
}

TStreamedDescriptor TStreamSource::FindDescriptor() {
  while (watching_) {
    // Nothing before the watch is read again: the position follows it.
    position_ = std::max(position_, std::min(scanFrom_, keptStart_ + static_cast<std::int64_t>(kept_.size())));
    if (!Fill()) break;
  }
  watching_ = false;
  if (found_.End >= 0)
    Seek(found_.End, soFromBeginning);
  else
    position_ = keptStart_ + static_cast<std::int64_t>(kept_.size());
  return found_;
}

bool TStreamSource::ReachesTo(std::int64_t end) {
  for (;;) {
    const std::int64_t head = keptStart_ + static_cast<std::int64_t>(kept_.size());
    if (head >= end) return true;
    position_ = std::max(position_, head);
    if (!Fill()) return false;
  }
}

bool TStreamSource::AtEnd() { return position_ >= keptStart_ + static_cast<std::int64_t>(kept_.size()) && !Fill(); }

}  // namespace kestrel

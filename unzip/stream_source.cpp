#include "unzip/stream_source.h"

#include <algorithm>
#include <cstring>

#include "unzip/decode/decode_errors.h"

namespace kestrel {
namespace {

/// Bytes read from the stream in one go.
constexpr std::int32_t Block = 65536;
/// Kept bytes are dropped once this many lie behind what must be kept: one move
/// of the rest per megabyte read.
constexpr std::int64_t DropThreshold = 1024 * 1024;

}  // namespace

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
  if (watching_) keepFrom = std::min(keepFrom, watch_->NeededFrom());
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
    // The last places, which nothing more will follow.
    if (watching_) Scan();
    return false;
  }
  if (watching_) Scan();
  return true;
}

std::span<const std::uint8_t> TStreamSource::Peek(std::int64_t at, std::int32_t count) {
  while (keptStart_ + static_cast<std::int64_t>(kept_.size()) < at + count && Fill()) {
  }
  if (at < keptStart_) throw EFatalUnzipError("Premature end of file reached");
  const std::int64_t head = keptStart_ + static_cast<std::int64_t>(kept_.size());
  if (at >= head) return {};
  return {kept_.data() + (at - keptStart_), static_cast<std::size_t>(std::min<std::int64_t>(count, head - at))};
}

void TStreamSource::WatchForDescriptor(const TZipHeaderInfo& entry, std::int64_t dataStart) {
  watching_ = true;
  watch_.emplace(entry, std::max(dataStart, keptStart_));
  Scan();
}

void TStreamSource::Scan() {
  const std::int64_t from = watch_->NeededFrom();
  const std::int64_t head = keptStart_ + static_cast<std::int64_t>(kept_.size());
  if (from >= head) return;  // the data has not begun to arrive
  if (watch_->Look(kept_.data() + (from - keptStart_), from, head - from, ended_, searchBudget_)) watching_ = false;
}

TDataDescriptor TStreamSource::FindDescriptor() {
  while (watching_) {
    // Nothing before the watch is read again: the position follows it.
    position_ =
        std::max(position_, std::min(watch_->NeededFrom(), keptStart_ + static_cast<std::int64_t>(kept_.size())));
    if (!Fill()) break;
  }
  watching_ = false;
  const TDataDescriptor found = watch_ ? watch_->Found() : TDataDescriptor{};
  if (found.End >= 0)
    Seek(found.End, soFromBeginning);
  else
    position_ = keptStart_ + static_cast<std::int64_t>(kept_.size());
  return found;
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

#include "unzip/lfn_file_stream.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace kestrel {

TS_BufferStream::TS_BufferStream(TStream& inner, std::int32_t windowSize)
    : inner_(&inner),
      buffer_(std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(std::max<std::int32_t>(windowSize, 1)))),
      windowSize_(std::max<std::int32_t>(windowSize, 1)) {
  windowEnd_ = buffer_.get() + windowSize_;
}

TS_BufferStream::~TS_BufferStream() {
  if (mode_ == WindowWriting) CommitWindow();
}

bool TS_BufferStream::LoadWindow() {
  const std::int32_t n = inner_->Read(buffer_.get(), windowSize_);
  cursor_ = buffer_.get();
  windowEnd_ = buffer_.get() + std::max<std::int32_t>(n, 0);
  mode_ = n > 0 ? WindowReading : WindowEmpty;
  return n > 0;
}

bool TS_BufferStream::CommitWindow() {
  const std::int32_t count = cursor_ == nullptr ? 0 : static_cast<std::int32_t>(cursor_ - buffer_.get());
  const std::int32_t n = count > 0 ? inner_->Write(buffer_.get(), count) : 0;
  cursor_ = buffer_.get();
  mode_ = WindowEmpty;
  return n == count;
}

bool TS_BufferStream::Flush() {
  if (mode_ != WindowWriting) return true;
  return CommitWindow();
}

std::int32_t TS_BufferStream::BufferOffset() const {
  switch (mode_) {
    case WindowReading:
      return static_cast<std::int32_t>(cursor_ - windowEnd_);
    case WindowWriting:
      return static_cast<std::int32_t>(cursor_ - buffer_.get());
    default:
      return 0;
  }
}

std::int32_t TS_BufferStream::Read(void* buffer, std::int32_t count) {
  if (mode_ == WindowWriting) CommitWindow();
  auto* dest = static_cast<std::uint8_t*>(buffer);
  std::int32_t total = 0;
  while (count > 0) {
    if (mode_ != WindowReading || cursor_ == windowEnd_) {
      if (!LoadWindow()) break;
    }
    const std::int32_t n = std::min(static_cast<std::int32_t>(windowEnd_ - cursor_), count);
    std::memcpy(dest, cursor_, static_cast<std::size_t>(n));
    cursor_ += n;
    dest += n;
    total += n;
    count -= n;
  }
  return total;
}

std::int32_t TS_BufferStream::Write(const void* buffer, std::int32_t count) {
  if (mode_ == WindowReading) {
    // Writing continues at the logical position: the read-ahead is dropped and
    // Inner moved back to where the caller stands.
    const std::int64_t logical = inner_->Seek(0, soFromCurrent) + BufferOffset();
    inner_->Seek(logical, soFromBeginning);
    mode_ = WindowEmpty;
    cursor_ = nullptr;
  }
  if (count >= windowSize_ && mode_ != WindowWriting) {
    // Nothing pending and at least a window's worth: the bytes go to Inner as they
    // are, in one call, where the window would have passed them on in pieces.
    const std::int32_t n = inner_->Write(buffer, count);
    mode_ = WindowEmpty;
    everWritten_ = true;
    return std::max<std::int32_t>(n, 0);
  }
  if (mode_ != WindowWriting) {
    cursor_ = buffer_.get();
    windowEnd_ = buffer_.get() + windowSize_;
  }
  const auto* src = static_cast<const std::uint8_t*>(buffer);
  std::int32_t total = 0;
  while (count > 0) {
    const std::int32_t n = std::min(static_cast<std::int32_t>(windowEnd_ - cursor_), count);
    std::memcpy(cursor_, src, static_cast<std::size_t>(n));
    cursor_ += n;
    src += n;
    total += n;
    count -= n;
    if (cursor_ == windowEnd_) {
      // Count what Inner took of this window before the commit forgets it.
      const std::int64_t before = inner_->Seek(0, soFromCurrent);
      if (!CommitWindow()) {
        const std::int64_t after = inner_->Seek(0, soFromCurrent);
        const auto accepted = static_cast<std::int32_t>(
            before >= 0 && after >= before ? std::min<std::int64_t>(after - before, windowSize_) : 0);
        // Inner refuses the tail of the window, which holds this call's bytes; bytes
        // of earlier calls were reported already and cannot come off this count.
        const std::int32_t refused = windowSize_ - accepted;
        total -= std::min(refused, n);
        break;
      }
    }
  }
  if (cursor_ != buffer_.get()) mode_ = WindowWriting;
  everWritten_ = true;
  return total;
}

std::int64_t TS_BufferStream::Seek(std::int64_t offset, std::int16_t origin) {
  const std::int64_t innerPosition = inner_->Seek(0, soFromCurrent);
  const std::int64_t current = innerPosition + BufferOffset();
  std::int64_t target;
  switch (origin) {
    case soFromBeginning:
      target = offset;
      break;
    case soFromCurrent:
      target = current + offset;
      break;
    case soFromEnd: {
      const std::int64_t size = std::max(current, inner_->Size());
      // The sign of the offset does not matter: both forms count back from the end.
      // (The most negative offset has no positive counterpart; it lands before any
      // file's start like every other offset larger than the size.)
      const std::int64_t back = offset < 0 ? (offset == INT64_MIN ? INT64_MAX : -offset) : offset;
      target = size - back;
      break;
    }
    default:
      throw Exception("Invalid seek origin (" + std::to_string(origin) + ")");
  }
  if (target == current) return target;

  if (mode_ == WindowReading && cursor_ != nullptr) {
    // A target inside the bytes already read is served from the window: headers
    // are read, stepped over and read again without touching the file.
    const std::int64_t windowStart = innerPosition - (windowEnd_ - buffer_.get());
    if (target >= windowStart && target <= innerPosition) {
      cursor_ = buffer_.get() + (target - windowStart);
      return target;
    }
  }
  if (mode_ == WindowWriting && !CommitWindow()) {
    cursor_ = nullptr;
    throw Exception("Seek error");
  }
  const std::int64_t reached = inner_->Seek(target, soFromBeginning);
  cursor_ = nullptr;
  mode_ = WindowEmpty;
  return reached;
}

TLFNFileStream::TLFNFileStream(const std::string& fileName, std::int32_t windowSize, bool flushOnClose,
                               std::uint16_t openMode)
    : detail::TFileStreamHolder(fileName, openMode),
      TS_BufferStream(*fileStream_, windowSize),
      syncOnClose_(flushOnClose && (openMode & 3) != 0) {}

TLFNFileStream::TLFNFileStream(platform::TFile file, const std::string& fileName, std::int32_t windowSize,
                               bool flushOnClose)
    : detail::TFileStreamHolder(std::move(file), fileName),
      TS_BufferStream(*fileStream_, windowSize),
      syncOnClose_(flushOnClose) {}

TLFNFileStream::~TLFNFileStream() {
  // The window's last bytes go into the file before the file goes to disk; the
  // window's own destructor then finds nothing left to write.
  Flush();
  if (syncOnClose_ && EverWritten()) fileStream_->File().FlushToDisk();
}

}  // namespace kestrel

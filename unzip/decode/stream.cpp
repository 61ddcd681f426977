#include "unzip/decode/stream.h"

namespace kestrel {

std::int64_t TStream::Size() {
  const std::int64_t here = Seek(0, soFromCurrent);
  const std::int64_t end = Seek(0, soFromEnd);
  Seek(here, soFromBeginning);
  return end;
}

namespace {

platform::TFileShare ShareOf(std::uint16_t mode) {
  switch (mode & 0xF0) {
    case fmShareExclusive:
      return platform::TFileShare::None;
    case fmShareDenyWrite:
      return platform::TFileShare::Read;
    case fmShareDenyRead:
      return platform::TFileShare::Write;
    default:
      return platform::TFileShare::ReadWrite;
  }
}

}  // namespace

TFileStream::TFileStream(const std::string& fileName, std::uint16_t mode) : fileName_(fileName) {
  if (mode == fmCreate) {
    file_ = platform::TFile::Open(fileName, platform::TFileAccess::ReadWrite, platform::TFileShare::None,
                                  platform::TFileCreation::CreateAlways);
    if (!file_.IsOpen()) throw EFCreateError("Cannot create file " + fileName);
    return;
  }
  const auto access = (mode & 3) == fmOpenWrite       ? platform::TFileAccess::Write
                      : (mode & 3) == fmOpenReadWrite ? platform::TFileAccess::ReadWrite
                                                      : platform::TFileAccess::Read;
  file_ = platform::TFile::Open(fileName, access, ShareOf(mode), platform::TFileCreation::OpenExisting);
  if (!file_.IsOpen()) throw EFOpenError("Cannot open file " + fileName);
}

std::int32_t TFileStream::Read(void* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  const std::int64_t got = file_.Read(buffer, static_cast<std::size_t>(count));
  if (got < 0) {
    position_ = -1;
    return 0;
  }
  if (position_ >= 0) position_ += got;
  return static_cast<std::int32_t>(got);
}

std::int32_t TFileStream::Write(const void* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  const std::int64_t put = file_.Write(buffer, static_cast<std::size_t>(count));
  if (put < 0) {
    position_ = -1;
    return 0;
  }
  if (position_ >= 0) position_ += put;
  if (put < count) position_ = -1;  // a failed write may have moved it partly
  return static_cast<std::int32_t>(put);
}

std::int64_t TFileStream::Seek(std::int64_t offset, std::int16_t origin) {
  // The readers ask for the position before every header and every window; the
  // answer is known without asking the system.
  if (origin == soFromCurrent && offset == 0 && position_ >= 0) return position_;
  const auto from = origin == soFromBeginning ? platform::TSeekOrigin::Begin
                    : origin == soFromCurrent ? platform::TSeekOrigin::Current
                                              : platform::TSeekOrigin::End;
  const std::int64_t position = file_.Seek(offset, from);
  position_ = position;
  return position < 0 ? -1 : position;
}

}  // namespace kestrel

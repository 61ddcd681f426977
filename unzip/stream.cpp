#include "unzip/stream.h"

#include <limits>

namespace kestrel {

std::int32_t TStream::Size() {
  const std::int32_t here = Seek(0, soFromCurrent);
  const std::int32_t end = Seek(0, soFromEnd);
  Seek(here, soFromBeginning);
  return end;
}

namespace {

platform::TFileShare ShareOf(std::uint16_t mode) {
  switch (mode & 0xF0) {
    case fmShareExclusive: return platform::TFileShare::None;
    case fmShareDenyWrite: return platform::TFileShare::Read;
    case fmShareDenyRead: return platform::TFileShare::Write;
    default: return platform::TFileShare::ReadWrite;
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
  return got < 0 ? 0 : static_cast<std::int32_t>(got);
}

std::int32_t TFileStream::Write(const void* buffer, std::int32_t count) {
  if (count <= 0) return 0;
  const std::int64_t put = file_.Write(buffer, static_cast<std::size_t>(count));
  return put < 0 ? 0 : static_cast<std::int32_t>(put);
}

std::int32_t TFileStream::Seek(std::int32_t offset, std::int16_t origin) {
  const auto from = origin == soFromBeginning ? platform::TSeekOrigin::Begin
                    : origin == soFromCurrent ? platform::TSeekOrigin::Current
                                              : platform::TSeekOrigin::End;
  const std::int64_t position = file_.Seek(offset, from);
  // Positions past 2 GiB cannot be expressed; report them as failures (-1).
  if (position < 0 || position > std::numeric_limits<std::int32_t>::max()) return -1;
  return static_cast<std::int32_t>(position);
}

}  // namespace kestrel

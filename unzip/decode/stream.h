#pragma once
// The byte-stream foundation the decoders and the zip component build on: the base
// exception of the project, the abstract stream with 64-bit positions, and the file
// stream over the platform's open file with the classic open-mode word.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

#include "platform/file_system.h"

namespace kestrel {

/// The project's base exception: every exception class derives straight from it
/// and carries its message text.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

/// A file could not be opened: "Cannot open file NAME".
class EFOpenError : public Exception {
 public:
  using Exception::Exception;
};

/// A file could not be created: "Cannot create file NAME".
class EFCreateError : public Exception {
 public:
  using Exception::Exception;
};

/// Seek origins.
enum : std::int16_t { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

/// The abstract byte stream. Offsets and positions are 64-bit signed, so that a
/// position past 2 GiB (a stored entry of almost 4 GiB, say) is never cut or
/// wrapped; counts of one read or write are 32-bit.
class TStream {
 public:
  virtual ~TStream() = default;
  /// Reads up to count bytes; fewer only at the end of data. Never throws.
  virtual std::int32_t Read(void* buffer, std::int32_t count) = 0;
  /// Writes up to count bytes; returns the count accepted.
  virtual std::int32_t Write(const void* buffer, std::int32_t count) = 0;
  /// Moves to offset from origin 0 (beginning), 1 (current) or 2 (end); returns the
  /// new position.
  virtual std::int64_t Seek(std::int64_t offset, std::int16_t origin) = 0;
  /// The stream's own memory for the next count bytes from its position, or
  /// nullptr when it keeps its bytes elsewhere (a file does). A writer may build
  /// its bytes there and pass them to Write from there, which then keeps them
  /// without a copy. The memory stays the stream's: it is valid while the stream
  /// is only written and asked its position, and bytes in it count only once
  /// written. Inflate asks for room for an entry's declared size, which an archive
  /// may overstate: a stream that would have to grow that far should decline.
  virtual std::uint8_t* DirectStorage(std::int64_t /*count*/) { return nullptr; }

  std::int64_t Position() { return Seek(0, soFromCurrent); }
  void SetPosition(std::int64_t position) { Seek(position, soFromBeginning); }
  /// Seeks to the end and back.
  std::int64_t Size();
};

/// Open-mode words: the low two bits give the access, the next nibble the sharing;
/// fmCreate creates or truncates the file with read and write access.
enum : std::uint16_t {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareExclusive = 0x0010,
  fmShareDenyWrite = 0x0020,
  fmShareDenyRead = 0x0030,
  fmShareDenyNone = 0x0040,
  fmCreate = 0xFFFF,
};

/// A stream over an open operating-system file, which it owns.
class TFileStream : public TStream {
 public:
  /// Opens or creates the file as the mode word says. Throws EFOpenError
  /// ("Cannot open file NAME") or EFCreateError ("Cannot create file NAME").
  TFileStream(const std::string& fileName, std::uint16_t mode);
  /// Takes a file opened already, at its start.
  TFileStream(platform::TFile file, const std::string& fileName) : file_(std::move(file)), fileName_(fileName) {}

  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, std::int16_t origin) override;

  /// The open file, for the queries the stream does not cover (times, disk flush).
  platform::TFile& File() { return file_; }
  std::intptr_t Handle() const { return file_.Handle(); }
  const std::string& FileName() const { return fileName_; }

 private:
  platform::TFile file_;
  std::string fileName_;
  /// The file position as this stream moved it, so that asking for it costs no
  /// system call; -1 when unknown (after a failed call).
  std::int64_t position_ = 0;
};

}  // namespace kestrel

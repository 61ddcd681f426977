#pragma once
// The buffered streams every archive read and every extracted file's write goes
// through: TS_BufferStream keeps a window of bytes in front of another stream, and
// TLFNFileStream opens a file by name and puts such a window in front of it.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/file_system.h"
#include "unzip/decode/stream.h"

namespace kestrel {

/// What the window holds.
enum TWindowMode : std::uint8_t {
  WindowEmpty = 0,    ///< no data
  WindowReading = 1,  ///< bytes read from Inner, not yet handed out (Cursor to WindowEnd)
  WindowWriting = 2,  ///< bytes accepted from the caller, not yet passed on (BufferStart to Cursor)
};

/// A stream that keeps a window of WindowSize bytes in front of an inner stream,
/// which it does not own. The directory scan reads the archive byte by byte and the
/// decoders write small pieces; the window turns both into whole-window calls.
class TS_BufferStream : public TStream {
 public:
  TS_BufferStream(TStream& inner, std::int32_t windowSize);
  ~TS_BufferStream() override;
  TS_BufferStream(const TS_BufferStream&) = delete;
  TS_BufferStream& operator=(const TS_BufferStream&) = delete;

  /// Reads through the window; a short count means the end of Inner. Never throws.
  std::int32_t Read(void* buffer, std::int32_t count) override;
  /// Writes through the window; the count excludes bytes Inner refused. Never throws.
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  /// Seek(0, 1) and any seek to the current position leave the window alone. Origin
  /// 2 ignores the offset's sign: Seek(-22, 2) and Seek(22, 2) both land 22 bytes
  /// before the end. Throws Exception "Invalid seek origin (N)" for another
  /// origin, and "Seek error" when pending bytes cannot be written out.
  std::int64_t Seek(std::int64_t offset, std::int16_t origin) override;

  /// Writes pending bytes out now. False when Inner refused some of them; the
  /// destructor's own commit cannot report that, so a writer that cares calls this.
  bool Flush();

  TWindowMode Mode() const { return mode_; }
  std::int32_t WindowSize() const { return windowSize_; }
  bool EverWritten() const { return everWritten_; }

 protected:
  /// Fills the window from Inner; false when nothing came.
  virtual bool LoadWindow();
  /// Passes the written part of the window to Inner; false when Inner took less.
  virtual bool CommitWindow();

  TStream& Inner() { return *inner_; }

 private:
  std::int32_t BufferOffset() const;

  TStream* inner_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::uint8_t* cursor_ = nullptr;
  std::uint8_t* windowEnd_ = nullptr;
  std::int32_t windowSize_;
  TWindowMode mode_ = WindowEmpty;
  bool everWritten_ = false;
};

namespace detail {
/// Holds the file stream of a TLFNFileStream. A base listed before
/// TS_BufferStream, so the file is opened before the window exists and closed only
/// after the window's last bytes were written into it.
class TFileStreamHolder {
 protected:
  TFileStreamHolder(const std::string& fileName, std::uint16_t openMode)
      : fileStream_(std::make_unique<TFileStream>(fileName, openMode)) {}
  TFileStreamHolder(platform::TFile file, const std::string& fileName)
      : fileStream_(std::make_unique<TFileStream>(std::move(file), fileName)) {}
  std::unique_ptr<TFileStream> fileStream_;
};
}  // namespace detail

/// A file opened by name behind a window. The component opens the archive with
/// mode 0x20 (read, deny write), a further volume with 0 and each extracted file
/// with fmCreate (0xFFFF).
class TLFNFileStream : private detail::TFileStreamHolder, public TS_BufferStream {
 public:
  /// Opens the file; EFOpenError or EFCreateError propagate before anything else is
  /// allocated. flushOnClose takes effect only for a file opened for writing.
  TLFNFileStream(const std::string& fileName, std::int32_t windowSize, bool flushOnClose, std::uint16_t openMode);
  /// Puts the window in front of a file the caller has created for writing.
  TLFNFileStream(platform::TFile file, const std::string& fileName, std::int32_t windowSize, bool flushOnClose);
  /// Writes the window's last bytes, then, when the file was opened for writing
  /// with flushOnClose, has the system put it on disk.
  ~TLFNFileStream() override;

  /// The operating-system handle of the file.
  std::intptr_t Handle() const { return fileStream_->Handle(); }
  /// The open file, for its times.
  platform::TFile& File() { return fileStream_->File(); }
  const std::string& FileName() const { return fileStream_->FileName(); }

 private:
  bool syncOnClose_;
};

}  // namespace kestrel

#pragma once
// An archive that arrives once, front to back, from a pipe: the stream the
// component reads it through. It keeps a stretch of the bytes behind the read
// position, so that the readers may go back over the local header they just read
// and over the decoders' read-ahead, lets the readers look ahead without moving,
// and it watches the bytes as they pass for the data descriptor that ends an entry
// whose sizes follow its data.

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <vector>

#include "platform/file_system.h"
#include "unzip/decode/stream.h"
#include "unzip/zip_records.h"

namespace kestrel {

/// An open file read front to back (standard input, a pipe): reads only.
class TPipeStream final : public TStream {
 public:
  explicit TPipeStream(platform::TFile file) : file_(std::move(file)) {}
  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void*, std::int32_t) override { return 0; }
  /// Only the position can be asked for; anything else raises an Exception.
  std::int64_t Seek(std::int64_t offset, std::int16_t origin) override;
  bool IsOpen() const { return file_.IsOpen(); }

 private:
  platform::TFile file_;
  std::int64_t position_ = 0;
};

/// The archive as the component reads it from a pipe. Positions count from the
/// first byte of the stream. Reads and seeks serve the kept bytes, and reach
/// forward as far as the stream goes; a seek back past the kept bytes raises
/// EFatalUnzipError, and so does asking for the size or the end.
class TStreamSource final : public TStream {
 public:
  /// Bytes kept behind the read position: the longest local header (30 bytes, a
  /// name and an extra field of 65,535 each) and a refill of the decoders.
  static constexpr std::int64_t KeptBehind = 256 * 1024;

  explicit TStreamSource(TStream& inner) : inner_(inner) {}
  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void*, std::int32_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, std::int16_t origin) override;

  /// The bytes from offset at on, count of them or fewer where the stream ends
  /// first, read ahead as far as needed without moving the position. They stay
  /// valid until the next read, seek or peek. At before the kept bytes raises
  /// EFatalUnzipError.
  std::span<const std::uint8_t> Peek(std::int64_t at, std::int32_t count);
  /// Watches the bytes from dataStart on, as they arrive, for the data descriptor
  /// of entry, whose sizes follow its data (TDescriptorSearch: the first place
  /// that checks out ends the entry, records passed or not).
  void WatchForDescriptor(const TZipHeaderInfo& entry, std::int64_t dataStart);
  /// Reads on until the watched descriptor has arrived, or the stream ends, and
  /// stands after it (at the stream's end when none came); what was found.
  TDataDescriptor FindDescriptor();
  /// True when the stream has no byte after the position.
  bool AtEnd();
  /// Reads on, the position going along, until the stream has given the bytes
  /// before end; false when it ends sooner.
  bool ReachesTo(std::int64_t end);
  /// Zero bytes given past the end of the stream while padding: one refill of the
  /// decoders.
  static constexpr std::int32_t PaddingSize = 32768;
  /// While set, a read past the end of the stream gives zero bytes (PaddingSize at
  /// most) instead of coming up short: a decoder asks for a whole refill of an
  /// entry whose size it does not know, and stops where its data ends.
  void SetPadding(bool value) { padLeft_ = value ? PaddingSize : 0; }

 private:
  /// Reads the next block of the stream behind the kept bytes; false at its end.
  bool Fill();
  /// Looks for the descriptor at each place whose bytes have all arrived.
  void Scan();

  TStream& inner_;
  std::vector<std::uint8_t> kept_;
  std::int64_t keptStart_ = 0;  ///< the stream offset of kept_[0]
  std::int64_t position_ = 0;
  bool ended_ = false;
  std::int32_t padLeft_ = 0;  ///< zero bytes still to give past the end
  bool watching_ = false;
  std::optional<TDescriptorSearch> watch_;
  /// A pipe is read to its end in any case: its searches go on past records for
  /// as long as it lasts.
  std::int64_t searchBudget_ = std::numeric_limits<std::int64_t>::max();
};

}  // namespace kestrel

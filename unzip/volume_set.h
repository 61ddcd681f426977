#pragma once
// An archive kept in several files, read as if the files were one. Two kinds:
// - a split set (NAME.z01, NAME.z02, ..., NAME.zip): every record counts its
//   offsets from the start of its own part and names the part ("disk") it lies
//   on; the last part holds the central directory;
// - numbered volumes (NAME.zip.001, NAME.zip.002, ...): one archive cut into
//   pieces, whose offsets count from the start of the first piece.
// Either way the parts' bytes, one after the other, are the archive. A part that
// is missing, cut short or not the one the records say leaves a gap in that run
// of bytes: a read there ends early, and the set tells which file was wanted.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/path.h"
#include "unzip/decode/stream.h"
#include "unzip/lfn_file_stream.h"

namespace kestrel {

/// What is wrong with one part of a set.
enum TVolumeFault : std::uint8_t {
  vfNone = 0,
  vfMissing = 1,     ///< no file of the part's name (or the caller gave none)
  vfCutShort = 2,    ///< shorter than the other parts of the set: its end is missing
  vfDoesNotFit = 3,  ///< present, but not the part the records say (out of order, or of another set)
};

/// One part, as found.
struct TVolumePart {
  std::string Name;        ///< the file read, or, for a missing part, the file the set needs
  std::int64_t Start = 0;  ///< where the part begins in the joined bytes
  std::int64_t Size = 0;   ///< the bytes the file has (0 when missing or not fitting)
  std::int64_t Span = 0;   ///< the bytes the part takes in the joined bytes; past Size they are a gap
  TVolumeFault Fault = vfNone;
};

/// The parts of one set in their order, and where each one's bytes lie in the
/// joined bytes. Built once, then only read: every reader of a run (the
/// extraction's and each worker's) shares one.
class TVolumeSet {
 public:
  /// Appends a part whose file exists: its size is taken from the file. Throws
  /// EFOpenError when it cannot be opened.
  void AddPresent(const std::string& name);
  /// Appends a part that is not there: span bytes of gap (the size the set's other
  /// parts have, as far as it can be told), named by the file the set needs.
  void AddMissing(const std::string& name, std::int64_t span);
  /// Marks part index (0-based) as faulty: its bytes from keep on are a gap, and
  /// its span becomes at least span (a part cut short still takes the room its
  /// records give it). Parts after it move accordingly.
  void MarkFault(std::size_t index, TVolumeFault fault, std::int64_t keep, std::int64_t span);

  const std::vector<TVolumePart>& Parts() const { return parts_; }
  /// The joined size: the sum of all spans.
  std::int64_t Size() const;
  /// The joined offset of an offset on one part (a record's disk number and
  /// offset), or nullopt when there is no such part.
  std::optional<std::int64_t> Joined(std::uint32_t disk, std::uint64_t offset) const;
  /// The part that holds the joined offset; nullptr past the end.
  const TVolumePart* PartAt(std::int64_t offset) const;
  /// The first part whose gap [begin, end) touches; nullptr when all of it is there.
  const TVolumePart* GapIn(std::int64_t begin, std::int64_t end) const;
  /// The size most parts but the last have (the size the set was split at), or
  /// 0 when no such part is present.
  std::int64_t CommonPartSize() const;

 private:
  void Relayout(std::size_t from);
  std::vector<TVolumePart> parts_;
};

/// A reading of a set: the parts' bytes one after the other as one stream. It
/// opens each part's file when a read first gets there and keeps it open (a few
/// at a time: the one used longest ago is closed for a new one); each reader of
/// a run has its own. Read stops short at a gap or at the end and never
/// throws; Write writes nothing.
class TVolumeSetStream final : public TStream {
 public:
  explicit TVolumeSetStream(std::shared_ptr<const TVolumeSet> set);
  ~TVolumeSetStream() override;
  TVolumeSetStream(const TVolumeSetStream&) = delete;
  TVolumeSetStream& operator=(const TVolumeSetStream&) = delete;

  std::int32_t Read(void* buffer, std::int32_t count) override;
  std::int32_t Write(const void* buffer, std::int32_t count) override;
  std::int64_t Seek(std::int64_t offset, std::int16_t origin) override;

  const TVolumeSet& Set() const { return *set_; }

 private:
  struct TOpenPart;
  /// The open file of part index, opened now when it is not; nullptr when it
  /// cannot be opened. Closes the part used longest ago when too many are open.
  TOpenPart* OpenPart(std::size_t index);
  std::shared_ptr<const TVolumeSet> set_;
  std::vector<std::unique_ptr<TOpenPart>> open_;
  std::vector<std::size_t> openIndices_;  ///< the parts whose files are open now
  std::uint64_t uses_ = 0;                ///< reads so far, to tell the part used longest ago
  std::int64_t position_ = 0;
};

namespace detail {
/// Holds the set stream of a TVolumeSetReader, made before its window.
class TVolumeSetHolder {
 protected:
  explicit TVolumeSetHolder(std::shared_ptr<const TVolumeSet> set)
      : setStream_(std::make_unique<TVolumeSetStream>(std::move(set))) {}
  std::unique_ptr<TVolumeSetStream> setStream_;
};
}  // namespace detail

/// A set read through a window, as the component reads a single archive file.
class TVolumeSetReader : private detail::TVolumeSetHolder, public TS_BufferStream {
 public:
  TVolumeSetReader(std::shared_ptr<const TVolumeSet> set, std::int32_t windowSize)
      : TVolumeSetHolder(std::move(set)), TS_BufferStream(*setStream_, windowSize) {}
  const TVolumeSet& Set() const { return setStream_->Set(); }
};

/// How the names of an archive and its parts are spelled: the host's way, and
/// with the backslash that the component's own paths use as a separator too.
const platform::TPathRules& ArchiveNameRules();

/// How a faulty part is told after its name: "which is missing", "which is cut
/// short", "which does not fit the set".
std::string VolumeFaultText(const TVolumePart& part);

/// The name of part `part` (1-based) of a split set of `parts` parts whose last
/// part is `lastPart`: NAME.z01, NAME.z02, ... (NAME.z100 past 99) beside a last
/// part NAME.zip or any other extension, NAME.zx01 ... beside NAME.zipx, in the
/// case of the last part's extension (LAST.ZIP has LAST.Z01); part `parts` is
/// lastPart itself.
std::string SplitPartName(const std::string& lastPart, std::int32_t part, std::int32_t parts);

/// Numbered volumes: when `name` ends in a dot and three or more digits
/// (NAME.zip.001, NAME.zip.017, NAME.zip.1000), the volume names from the first
/// (.001) on, in order, through the last one that exists beside it. Numbers have
/// three digits or more (.999 is followed by .1000; leading zeros in `name`, as in
/// .0001, give the width). A volume missing between two present ones is listed
/// too, as the set needs it; the search probes names upward and stops after 8
/// missing in a row (never before the named volume), and takes no number past
/// 99999. Nothing when the name has no such ending or the volume NAME.zip.001 and
/// `name` itself both do not exist.
std::vector<std::string> NumberedVolumeNames(const std::string& name);

}  // namespace kestrel

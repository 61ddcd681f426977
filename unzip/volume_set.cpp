#include "unzip/volume_set.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits>
#include <map>
#include <utility>

#include "platform/file_system.h"
#include "platform/path.h"

namespace kestrel {

namespace {

constexpr std::int64_t MaxOffset = std::numeric_limits<std::int64_t>::max();

/// a + b for non-negative a and b, held at the largest offset instead of
/// wrapping: spans come from an archive's records, and a hostile one may claim
/// parts of any size.
std::int64_t AddHeld(std::int64_t a, std::int64_t b) { return b > MaxOffset - a ? MaxOffset : a + b; }

}  // namespace

// ---- TVolumeSet ---------------------------------------------------------------

void TVolumeSet::AddPresent(const std::string& name) {
  // A FIFO would block the open itself until someone writes to it: only a file
  // on disk is a part.
  const auto kind = platform::QueryFileKind(name);
  if (kind != platform::TFileKind::Regular) throw EFOpenError("Cannot open file " + name);
  platform::TFile file = platform::TFile::Open(name, platform::TFileAccess::Read, platform::TFileShare::Read,
                                               platform::TFileCreation::OpenExisting);
  const std::int64_t size = file.IsOpen() ? file.Size() : -1;
  if (size < 0) throw EFOpenError("Cannot open file " + name);
  parts_.push_back({name, 0, size, size, vfNone});
  Relayout(parts_.size() - 1);
}

void TVolumeSet::AddMissing(const std::string& name, std::int64_t span) {
  parts_.push_back({name, 0, 0, std::max<std::int64_t>(span, 0), vfMissing});
  Relayout(parts_.size() - 1);
}

void TVolumeSet::MarkFault(std::size_t index, TVolumeFault fault, std::int64_t keep, std::int64_t span) {
  if (index >= parts_.size()) return;
  TVolumePart& part = parts_[index];
  part.Fault = fault;
  part.Size = std::clamp<std::int64_t>(keep, 0, part.Size);
  part.Span = std::max(part.Span, span);
  Relayout(index);
}

void TVolumeSet::Relayout(std::size_t from) {
  for (std::size_t i = from; i < parts_.size(); ++i)
    parts_[i].Start = i == 0 ? 0 : AddHeld(parts_[i - 1].Start, parts_[i - 1].Span);
}

std::int64_t TVolumeSet::Size() const { return parts_.empty() ? 0 : AddHeld(parts_.back().Start, parts_.back().Span); }

std::optional<std::int64_t> TVolumeSet::Joined(std::uint32_t disk, std::uint64_t offset) const {
  if (disk >= parts_.size()) return std::nullopt;
  const std::int64_t start = parts_[disk].Start;
  if (offset > static_cast<std::uint64_t>(MaxOffset - start)) return std::nullopt;
  return start + static_cast<std::int64_t>(offset);
}

namespace {

/// The index of the last part that starts at or before offset (parts of no span
/// share their start with the next part; this takes the last of them, the one
/// that holds the offset); parts.size() when offset lies before all of them.
std::size_t LastStartingAt(const std::vector<TVolumePart>& parts, std::int64_t offset) {
  const auto after = std::upper_bound(parts.begin(), parts.end(), offset,
                                      [](std::int64_t at, const TVolumePart& part) { return at < part.Start; });
  return after == parts.begin() ? parts.size() : static_cast<std::size_t>(after - parts.begin()) - 1;
}

}  // namespace

const TVolumePart* TVolumeSet::PartAt(std::int64_t offset) const {
  const std::size_t i = LastStartingAt(parts_, offset);
  if (i >= parts_.size() || offset - parts_[i].Start >= parts_[i].Span) return nullptr;
  return &parts_[i];
}

const TVolumePart* TVolumeSet::GapIn(std::int64_t begin, std::int64_t end) const {
  if (begin >= end) return nullptr;
  std::size_t i = LastStartingAt(parts_, begin);
  if (i >= parts_.size()) i = 0;
  for (; i < parts_.size() && parts_[i].Start < end; ++i) {
    const TVolumePart& part = parts_[i];
    const std::int64_t gapBegin = AddHeld(part.Start, part.Size), gapEnd = AddHeld(part.Start, part.Span);
    if (std::max(gapBegin, begin) < std::min(gapEnd, end)) return &part;
  }
  return nullptr;
}

std::int64_t TVolumeSet::CommonPartSize() const {
  // Splitters cut every part but the last at one size; a part cut short since, or
  // a stray file in a part's place, is one among many, so the size most parts
  // have wins (the larger one on a tie: a cut-short part is the smaller).
  std::map<std::int64_t, std::size_t> counts;
  for (std::size_t i = 0; i + 1 < parts_.size(); ++i)
    if (parts_[i].Fault == vfNone) ++counts[parts_[i].Size];
  std::int64_t best = 0;
  std::size_t bestCount = 0;
  for (const auto& [size, count] : counts) {
    if (count < bestCount) continue;
    best = size;
    bestCount = count;
  }
  return best;
}

std::string VolumeFaultText(const TVolumePart& part) {
  switch (part.Fault) {
    case vfMissing:
      return "which is missing";
    case vfCutShort:
      return "which is cut short";
    case vfDoesNotFit:
      return "which does not fit the set";
    default:
      return "which is whole";
  }
}

// ---- TVolumeSetStream -------------------------------------------------------------

/// One part's file as the stream has it: opened on the first read that reaches
/// the part, or found not to open any more.
struct TVolumeSetStream::TOpenPart {
  platform::TFile File;
  /// The file position as the stream left it, so that a read going on where the
  /// last one stopped needs no seek; -1 when unknown.
  std::int64_t Position = -1;
  /// The file could not be opened: the part reads as a gap from then on.
  bool Failed = false;
  /// When the stream last read the part, to close the part used longest ago.
  std::uint64_t LastUse = 0;
};

namespace {
/// Files one stream keeps open at most. A set may have thousands of parts and a
/// run several readers, and the system allows a process only so many open files.
constexpr std::size_t MaxOpenParts = 16;
}  // namespace

TVolumeSetStream::TVolumeSetStream(std::shared_ptr<const TVolumeSet> set) : set_(std::move(set)) {
  open_.resize(set_->Parts().size());
}

TVolumeSetStream::~TVolumeSetStream() = default;

TVolumeSetStream::TOpenPart* TVolumeSetStream::OpenPart(std::size_t index) {
  auto& slot = open_[index];
  if (!slot) slot = std::make_unique<TOpenPart>();
  TOpenPart& part = *slot;
  part.LastUse = ++uses_;
  if (part.Failed) return nullptr;
  if (part.File.IsOpen()) return &part;
  if (openIndices_.size() >= MaxOpenParts) {
    const auto oldest = std::min_element(openIndices_.begin(), openIndices_.end(), [&](std::size_t a, std::size_t b) {
      return open_[a]->LastUse < open_[b]->LastUse;
    });
    open_[*oldest]->File = platform::TFile();
    open_[*oldest]->Position = -1;
    openIndices_.erase(oldest);
  }
  // Shared as the component opens a single archive: others may read it meanwhile,
  // not change it.
  part.File = platform::TFile::Open(set_->Parts()[index].Name, platform::TFileAccess::Read, platform::TFileShare::Read,
                                    platform::TFileCreation::OpenExisting);
  if (!part.File.IsOpen()) {
    part.Failed = true;
    return nullptr;
  }
  part.Position = 0;
  openIndices_.push_back(index);
  return &part;
}

std::int32_t TVolumeSetStream::Read(void* buffer, std::int32_t count) {
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::int32_t done = 0;
  const auto& parts = set_->Parts();
  while (done < count) {
    const TVolumePart* part = set_->PartAt(position_);
    if (part == nullptr) break;
    const std::int64_t inPart = position_ - part->Start;
    if (inPart >= part->Size) break;  // the part's gap
    const auto want = static_cast<std::int32_t>(std::min<std::int64_t>(count - done, part->Size - inPart));
    TOpenPart* file = OpenPart(static_cast<std::size_t>(part - parts.data()));
    if (file == nullptr) break;
    if (file->Position != inPart) file->Position = file->File.Seek(inPart, platform::TSeekOrigin::Begin);
    const std::int64_t got =
        file->Position == inPart ? file->File.Read(out + done, static_cast<std::size_t>(want)) : -1;
    if (got <= 0) {
      file->Position = -1;
      break;
    }
    file->Position += got;
    position_ += got;
    done += static_cast<std::int32_t>(got);
    if (got < want) break;  // the file is shorter now than when the set was made
  }
  return done;
}

std::int32_t TVolumeSetStream::Write(const void* /*buffer*/, std::int32_t /*count*/) { return 0; }

std::int64_t TVolumeSetStream::Seek(std::int64_t offset, std::int16_t origin) {
  // As a file does: the end counts with the offset's sign, a position past the
  // end is allowed (it reads nothing), and one before the start fails and leaves
  // the position where it was.
  std::int64_t base = 0;
  if (origin == soFromCurrent)
    base = position_;
  else if (origin == soFromEnd)
    base = set_->Size();
  else if (origin != soFromBeginning)
    return -1;
  if (offset > 0 ? offset > MaxOffset - base : base + offset < 0) return -1;
  position_ = base + offset;
  return position_;
}

// ---- Names of parts ------------------------------------------------------------------

std::string SplitPartName(const std::string& lastPart, std::int32_t part, std::int32_t parts) {
  if (part >= parts) return lastPart;
  const std::size_t dot = platform::ExtensionStart(lastPart, ArchiveNameRules());
  const std::string extension = dot == std::string::npos ? std::string() : lastPart.substr(dot);
  std::string lower = extension;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // The parts follow the case of the last part's extension, as the writers name
  // them: an extension without lower-case letters, and with some letter, is upper case.
  const bool upper = lower != extension && std::none_of(extension.begin(), extension.end(), [](char c) {
                       return std::islower(static_cast<unsigned char>(c)) != 0;
                     });
  char digits[16];
  std::snprintf(digits, sizeof digits, "%02d", std::max<std::int32_t>(part, 1));
  std::string number = (lower == ".zipx" ? "zx" : "z") + std::string(digits);
  if (upper)
    for (char& c : number) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return platform::ChangeExtension(lastPart, "." + number, ArchiveNameRules());
}

namespace {

/// Names missing in a row after which the search for further volumes stops: a
/// set with a few volumes lost in its middle is still found whole, and the search
/// never lists a folder, however many files it holds.
constexpr std::int32_t MaxMissingVolumes = 8;
/// The highest volume number taken from a name: a set of more volumes than this
/// is none a splitter writes, and the search up to it stays short.
constexpr std::int32_t MaxVolumeNumber = 99999;

std::string VolumeName(const std::string& stem, std::int32_t number, int width) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%0*d", width, number);
  return stem + digits;
}

}  // namespace

std::vector<std::string> NumberedVolumeNames(const std::string& name) {
  const std::size_t dot = platform::ExtensionStart(name, ArchiveNameRules());
  if (dot == std::string::npos) return {};
  const std::string digits = name.substr(dot + 1), stem = name.substr(0, dot + 1);
  if (digits.size() < 3 || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return {};
  const std::size_t significant = digits.find_first_not_of('0');
  if (significant == std::string::npos || digits.size() - significant > 5) return {};
  const std::int32_t given = std::stoi(digits.substr(significant));
  if (given > MaxVolumeNumber) return {};
  // Volumes are numbered with three digits or more (.001, and .1000 past .999):
  // leading zeros give the width; a name without them (.1000) may belong to a set
  // that starts .001 or .0001, and the first volume found tells which.
  int width = static_cast<int>(digits.size());
  if (significant == 0) {
    width = 3;
    for (int w = 3; w <= static_cast<int>(digits.size()); ++w)
      if (platform::FileExists(VolumeName(stem, 1, w))) {
        width = w;
        break;
      }
  }
  const bool givenExists = platform::FileExists(name);
  // Without a first volume a numbered name is a file of its own (backup.2024).
  if (!platform::FileExists(VolumeName(stem, 1, width))) return {};
  // Up from the first volume by name; the named volume is reached whatever lies
  // before it, and the search goes on past it until too many are missing in a row.
  std::int32_t last = 0;
  for (std::int32_t n = 1, missing = 0;
       n <= MaxVolumeNumber && (missing < MaxMissingVolumes || (givenExists && n <= given)); ++n) {
    const bool present = (n == given && givenExists) || platform::FileExists(VolumeName(stem, n, width));
    missing = present ? 0 : missing + 1;
    if (present) last = n;
  }
  if (last == 0 || (!givenExists && !platform::FileExists(VolumeName(stem, 1, width)))) return {};
  std::vector<std::string> names;
  for (std::int32_t n = 1; n <= last; ++n) names.push_back(VolumeName(stem, n, width));
  return names;
}

}  // namespace kestrel

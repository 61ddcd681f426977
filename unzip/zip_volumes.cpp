// The parts of an archive kept in several files. A split set (NAME.z01, ...,
// NAME.zip) is joined when its end record says it has more than one part: each
// part is asked for once, in order, and the records' (disk, offset) pairs become
// offsets into the joined bytes, so that everything after the directory reads it
// as one file. Numbered volumes (NAME.zip.001, ...) are joined when the archive is
// opened: their offsets count from the first volume already. Only a set spanned
// over removable disks, which can be there one at a time, is still read volume by
// volume, as the disks are asked for.

#include <algorithm>
#include <cstdio>
#include <map>

#include "platform/file_system.h"
#include "platform/host_ui.h"
#include "platform/path.h"
#include "unzip/kestrel_unzip.h"
#include "unzip/volume_set.h"

namespace kestrel {
namespace {

// What a split set's first part starts with: the split marker, the marker some
// writers leave when the set became one part after all, or, from writers that
// put no marker, the first local header.
bool StartsLikeFirstPart(std::uint32_t signature) {
  constexpr std::uint32_t SplitMarker = 0x08074B50, OnePartMarker = 0x30304B50;
  return signature == SplitMarker || signature == OnePartMarker || signature == TLocalHeaderLayout::Signature;
}

std::uint32_t SignatureAt(TStream& stream, std::int64_t offset) {
  std::uint8_t bytes[4] = {};
  stream.SetPosition(offset);
  return stream.Read(bytes, 4) == 4 ? GetU32(bytes) : 0;
}

}  // namespace

const platform::TPathRules& ArchiveNameRules() {
  static constexpr platform::TPathRules withBackslash{"/\\", '/', false, false};
  return platform::HostPathRules().HasDrives ? platform::HostPathRules() : withBackslash;
}

bool TKestrelUnZip::PerVolume() const { return endCentral_->ThisDisk != 0 && !volumeSet_; }

void TKestrelUnZip::DefaultGetNextDisk(std::int32_t nextDisk, std::string& fName) {
  if (spanMode_ == 2) {
    const auto parts = static_cast<std::int32_t>(endCentral_->ThisDisk) + 1;
    const std::string beside = SplitPartName(fName, nextDisk, parts);
    if (platform::FileExists(beside)) {
      fName = beside;
      return;
    }
    // Sets whose writer numbers its volumes NAME.001, NAME.002, ...
    char extension[16];
    std::snprintf(extension, sizeof extension, ".%3.3d", static_cast<int>(nextDisk));
    const std::string numbered = platform::ChangeExtension(fName, extension, ArchiveNameRules());
    // A name that names nothing is the one the set needs, and so the one told.
    fName = platform::FileExists(numbered) ? numbered : beside;
  } else if (spanMode_ == 1) {
    const std::string text = "Please insert disk " + std::to_string(nextDisk) + " of the multi-disk set.";
    if (platform::ShowMessageBox("", text, platform::TMessageButtons::OkCancel) == platform::TMessageAnswer::Cancel)
      fName.clear();
  }
}

void TKestrelUnZip::OpenVolume(std::int32_t n) {
  archiveStream_.reset();
  std::string name = zipName_;
  std::optional<std::string> missing;
  for (;;) {
    if (OnGetNextDisk) OnGetNextDisk(*this, n, name);
    if (name.empty()) throw EUserCanceled("User canceled loading new disk.");
    if (!platform::FileExists(name)) {
      // Asking again for a name that still names nothing would never end.
      if (missing == name) throw EUserCanceled("User canceled loading new disk.");
      missing = name;
      continue;
    }
    if (verifyDiskLabels_ && spanMode_ == 1) {
      char expected[16];
      std::snprintf(expected, sizeof expected, "%3.3d", static_cast<int>(n));
      const std::string label = platform::VolumeLabel(name);
      if (label.size() < 3 || label.substr(label.size() - 3) != expected) continue;
    }
    break;
  }
  archiveStream_ = std::make_unique<TLFNFileStream>(name, ArchiveWindowSize, flushFilesOnClose_, fmOpenRead);
  currentDisk_ = n - 1;
  archiveDate_ = ArchiveFileTime();
  zipName_ = name;
}

std::optional<std::string> TKestrelUnZip::FindPart(std::int32_t n) {
  std::string name = zipName_;
  std::optional<std::string> missing;
  for (;;) {
    if (OnGetNextDisk) OnGetNextDisk(*this, n, name);
    if (name.empty()) throw EUserCanceled("User canceled loading new disk.");
    const auto kind = platform::QueryFileKind(name);
    if (kind == platform::TFileKind::Regular) return name;
    // Asking again for a name that still names nothing would never end.
    if (missing == name) return std::nullopt;
    missing = name;
  }
}

bool TKestrelUnZip::OpenNumberedVolumes() {
  const std::vector<std::string> names = NumberedVolumeNames(zipName_);
  if (names.size() < 2) return false;
  auto set = std::make_shared<TVolumeSet>();
  std::vector<std::size_t> missing;
  for (const std::string& name : names) {
    if (platform::QueryFileKind(name) == platform::TFileKind::Regular) {
      try {
        set->AddPresent(name);
        continue;
      } catch (const EFOpenError&) {
      }
    }
    missing.push_back(set->Parts().size());
    set->AddMissing(name, 0);
  }
  // A volume not there takes the room the others were cut to.
  for (const std::size_t index : missing) set->MarkFault(index, vfMissing, 0, set->CommonPartSize());
  volumeSet_ = std::move(set);
  splitSet_ = false;
  archiveStream_ = std::make_unique<TVolumeSetReader>(volumeSet_, ArchiveWindowSize);
  return true;
}

void TKestrelUnZip::JoinSplitSet() {
  const auto parts = static_cast<std::int32_t>(endCentral_->ThisDisk) + 1;
  auto set = std::make_shared<TVolumeSet>();
  for (std::int32_t n = 1; n < parts; ++n) {
    if (const auto name = FindPart(n)) {
      try {
        set->AddPresent(*name);
        continue;
      } catch (const EFOpenError&) {
      }
    }
    set->AddMissing(SplitPartName(zipName_, n, parts), 0);
  }
  set->AddPresent(zipName_);
  // The parts of a set are cut to one size; one that is shorter lost its end,
  // and one that is not there takes that room, so that the parts after either
  // stay where their records say.
  const std::int64_t common = set->CommonPartSize();
  for (std::size_t i = 0; i + 1 < set->Parts().size(); ++i) {
    const TVolumePart& part = set->Parts()[i];
    if (part.Fault == vfMissing) {
      set->MarkFault(i, vfMissing, 0, common);
    } else if (part.Size < common) {
      set->MarkFault(i, vfCutShort, part.Size, common);
    }
  }
  volumeSet_ = set;
  splitSet_ = true;
  archiveStream_ = std::make_unique<TVolumeSetReader>(volumeSet_, ArchiveWindowSize);
  if (set->Parts().front().Fault == vfNone && !StartsLikeFirstPart(SignatureAt(*archiveStream_, 0)))
    set->MarkFault(0, vfDoesNotFit, 0, set->Parts().front().Span);

  TEndCentral& end = *endCentral_;
  const std::int64_t lastStart = set->Parts().back().Start;
  end.CentralDirOffset = static_cast<std::uint64_t>(
      set->Joined(static_cast<std::uint32_t>(end.CentralDirDisk), end.CentralDirOffset).value_or(set->Size()));
  end.CommentPos += static_cast<std::uint64_t>(lastStart);
  end.RecordsStart += static_cast<std::uint64_t>(lastStart);
  const std::int64_t directoryEnd = static_cast<std::int64_t>(end.CentralDirOffset + end.CentralDirSize);
  const TVolumePart* gap = set->GapIn(static_cast<std::int64_t>(end.CentralDirOffset), directoryEnd);
  // A part not there may take no room at all, when no other part tells its size.
  if (const TVolumePart& first = set->Parts()[end.CentralDirDisk]; first.Fault == vfMissing) gap = &first;
  if (gap != nullptr) {
    const std::string name = gap->Name;
    ResetZip();
    throw EBadZipFile("Not a valid zip file!", "its central directory lies in " + name + ", " + VolumeFaultText(*gap));
  }
}

std::int64_t TKestrelUnZip::JoinedOffset(std::uint32_t disk, std::uint64_t offset) const {
  // An entry on a disk the set does not have starts past its end: its bytes are
  // not there, and the damage finding leaves it out.
  return volumeSet_->Joined(disk, offset).value_or(volumeSet_->Size() + static_cast<std::int64_t>(offset));
}

void TKestrelUnZip::CheckSplitParts() {
  // Each part starts with its first entry's local header, or with the bytes an
  // entry of the part before runs on with: the first local header a part's
  // records name is where they say. A part where it is not is another set's, or
  // another part of this one.
  std::map<std::uint32_t, std::uint64_t> firstOnPart;
  for (std::int32_t i = 0; i < directoryList_->Count(); ++i) {
    const TZipHeaderInfo& entry = *directoryList_->Items(i);
    auto [at, added] = firstOnPart.try_emplace(entry.DiskStart, entry.LocalHeaderOffset);
    if (!added) at->second = std::min(at->second, entry.LocalHeaderOffset);
  }
  const auto& parts = volumeSet_->Parts();
  for (const auto& [disk, offset] : firstOnPart) {
    if (disk >= parts.size() || parts[disk].Fault != vfNone) continue;
    if (SignatureAt(*archiveStream_, static_cast<std::int64_t>(offset)) != TLocalHeaderLayout::Signature)
      volumeSet_->MarkFault(disk, vfDoesNotFit, 0, parts[disk].Span);
  }
}

std::function<std::unique_ptr<TStream>()> TKestrelUnZip::ArchiveOpener() const {
  if (volumeSet_) {
    std::shared_ptr<const TVolumeSet> set = volumeSet_;
    return [set]() -> std::unique_ptr<TStream> { return std::make_unique<TVolumeSetReader>(set, ArchiveWindowSize); };
  }
  return [name = zipName_]() -> std::unique_ptr<TStream> {
    return std::make_unique<TLFNFileStream>(name, ArchiveWindowSize, false, fmShareDenyWrite);
  };
}

}  // namespace kestrel

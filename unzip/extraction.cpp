// The component's side of an extraction: UnZip, which begins a run
// (TExtractionRun, extraction_run.cpp) at either door and keeps it for what
// callers read afterwards, and the decoding of one entry (its local header, its
// password, the decoding frame, the output to a caller's stream), which the run
// and the listing's LinkTarget share.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/code_page.h"
#include "platform/file_system.h"
#include "unzip/decode/decode_state.h"
#include "unzip/decode/decrypt.h"
#include "unzip/decode/entry_decoding.h"
#include "unzip/decode_ahead.h"
#include "unzip/driver_host.h"
#include "unzip/extraction_run.h"
#include "unzip/kestrel_unzip.h"
#include "unzip/text_output.h"

namespace kestrel {

std::int32_t TKestrelUnZip::UnZip() {
  if (destDir_ == "?") return 0;
  if (inputStream_ != nullptr) return BeginRun().UnZipStream();
  LoadZipDirectory();
  OpenZip();
  const std::int32_t done = BeginRun().UnZipSelected();
  CloseZip();
  return done;
}

TExtractionRun& TKestrelUnZip::BeginRun() {
  // The new run takes over what the last one left for callers to read, and
  // resets what a run resets as it starts.
  run_ = std::make_unique<TExtractionRun>(*this, run_ ? std::move(run_->Outcome()) : TRunOutcome{});
  return *run_;
}

std::int64_t TKestrelUnZip::BtsDone() const { return run_ ? run_->Outcome().BtsDone : 0; }

TDecodeResult TKestrelUnZip::DecodeResult() const { return run_ ? run_->Outcome().DecodeResult : drDecoded; }

const std::string& TKestrelUnZip::DecodeDetail() const {
  static const std::string none;
  return run_ ? run_->Outcome().DecodeDetail : none;
}

bool TKestrelUnZip::ReplacingFile() const { return run_ && run_->Outcome().ReplacingFile; }

TStream& TKestrelUnZip::EntrySource() {
  if (stream_.Source) return *stream_.Source;
  if (!archiveStream_) throw EFatalUnzipError("Premature end of file reached");
  return *archiveStream_;
}

TEntryDamage TKestrelUnZip::EntryDamage(std::int32_t index) const {
  if (!run_) return {};
  const std::vector<TEntryDamage>& damage = run_->Outcome().Damage;
  if (index < 0 || static_cast<std::size_t>(index) >= damage.size()) return {};
  return damage[static_cast<std::size_t>(index)];
}

void TKestrelUnZip::ReadEntryLocalHeader() {
  const TZipHeaderInfo& entry = *currentEntry_;
  if (PerVolume() && entry.DiskStart != static_cast<std::uint32_t>(currentDisk_)) {
    // An entry on a disk the set does not have is damage: its data is not there.
    if (entry.DiskStart > endCentral_->ThisDisk) throw EFatalUnzipError("Premature end of file reached");
    OpenVolume(static_cast<std::int32_t>(entry.DiskStart) + 1);
  }
  TStream& archive = EntrySource();
  archive.Seek(static_cast<std::int64_t>(entry.LocalHeaderOffset), soFromBeginning);
  std::uint8_t localHeader[TLocalHeaderLayout::Size] = {};
  archive.Read(localHeader, TLocalHeaderLayout::Size);
  const std::uint16_t nameLength = GetU16(localHeader + TLocalHeaderLayout::NameLengthAt);
  const std::uint16_t extraLength = GetU16(localHeader + TLocalHeaderLayout::ExtraLengthAt);
  if (!restoreOwners_ || extraLength == 0) {
    archive.Seek(nameLength + extraLength, soFromCurrent);
    return;
  }
  // The owner fields that matter are the local header's: the older ones are
  // there alone, and an owner there wins over the central header's.
  archive.Seek(nameLength, soFromCurrent);
  std::vector<std::uint8_t> extra(extraLength);
  const std::int32_t got = archive.Read(extra.data(), extraLength);
  if (got > 0) {
    if (const auto owner = ExtraFieldOwner(extra.data(), static_cast<std::size_t>(got))) currentEntry_->Owner = owner;
  }
}

bool TKestrelUnZip::ConvertsAsText(const TZipHeaderInfo& entry, TTextMode mode) {
  // Bit 0 of the internal attributes: the writer found the entry to be text.
  return mode == tmAllText || (mode == tmMarkedText && (entry.InternalAttributes & 1) != 0);
}

void TKestrelUnZip::UnZipEntryToStream(std::int32_t index, TDecodeState& state) {
  const TZipHeaderInfo& entry = *currentEntry_;
  std::string fName = entry.StoredPath();
  bool skip = false;
  if (OnStartUnZip) OnStartUnZip(*this, index, fName, skip);
  if (skip) return;
  if (entry.Encrypted() && !CheckPassword(index, state)) return;
  // A stream takes no date: how the decoder ended counts in the verdict alone.
  if (ConvertsAsText(entry, textMode_)) {
    TTextOutput text(*outputStream_);
    DecodeEntry(state, text);
  } else {
    DecodeEntry(state, *outputStream_);
  }
  if (stream_.Source && !CompleteStreamedEntry(index)) {
    run_->ReportSkip(skCutShort, entry.StoredPath(), index);
    return;
  }
  run_->JudgeCrc(index, state.Crc(), fName);
}

TDecodeEntry TKestrelUnZip::DecodeEntryOf(const TZipHeaderInfo& entry) {
  TDecodeEntry decodeEntry;
  decodeEntry.Flags = entry.Flags;
  decodeEntry.CompressionMethod = entry.CompressionMethod;
  decodeEntry.CompressedSize = entry.CompressedSize;
  decodeEntry.UncompressedSize = entry.UncompressedSize;
  decodeEntry.LocalHeaderOffset = entry.LocalHeaderOffset;
  decodeEntry.Aes = entry.Aes;
  return decodeEntry;
}

bool TKestrelUnZip::DecodeEntry(TDecodeState& state, TStream& output) {
  TRunOutcome& outcome = run_->Outcome();
  outcome.DecodeResult = DecodeEntryData(state, DecodeEntryOf(*currentEntry_), output);
  outcome.DecodeDetail = state.FailureDetail;
  return outcome.DecodeResult == drDecoded;
}

bool TKestrelUnZip::CheckPassword(std::int32_t index, TDecodeState& state) {
  TZipHeaderInfo& entry = *currentEntry_;
  const std::uint8_t check = EncryptionCheckByte(entry.Flags, entry.DateTime, entry.CRC32);
  // The header is read once, which leaves the archive at the data for the
  // decoding; every password offered is tried on the same bytes.
  const TDecodeState::TEncryptionHeader header =
      TDecodeState::ReadEncryptionHeaderBytes(EntrySource(), entry.AesEncrypted(), entry.Aes, entry.CompressedSize);
  for (;;) {
    // The traditional cipher checks one byte of its 12-byte header; WinZip AES
    // the 2-byte verifier after its salt.
    if (entry.AesEncrypted() ? state.StartAes(password_, entry.Aes, header)
                             : state.StartKeys(password_, header) == check)
      return true;
    if (OnBadPassword) {
      std::string newPassword = password_;
      OnBadPassword(*this, index, newPassword);
      if (newPassword != password_) {
        password_ = newPassword;
        continue;
      }
    }
    run_->ReportSkip(skBadPassword, entry.StoredPath(), index);
    run_->DropFromTotals();
    return false;
  }
}

std::optional<int> TKestrelUnZip::CompareWithFile(std::int32_t index, const std::string& fName) {
  CheckIndex(index);
  const std::optional<platform::TFileTime> fileTime = DestinationTime(fName);
  if (!fileTime) return std::nullopt;
  return CompareEntryToFile(Entry(index), *fileTime);
}

std::optional<std::string> TKestrelUnZip::LinkTarget(std::int32_t index) {
  CheckIndex(index);
  const TZipHeaderInfo& entry = Entry(index);
  if (!entry.IsSymbolicLink() || entry.Encrypted() || entry.UncompressedSize > TExtractionRun::LongestLinkTarget ||
      inputStream_ != nullptr || endCentral_->ThisDisk != 0)
    return std::nullopt;
  // The listing's own decoding: neither its progress nor its verdict reaches the
  // caller, and an archive that ends inside the entry only leaves the target unknown.
  // It decodes in the last run (one of its own before the first), whose counters
  // and verdict it leaves as they were.
  if (!run_) run_ = std::make_unique<TExtractionRun>(*this, TRunOutcome{});
  TRunOutcome& outcome = run_->Outcome();
  const TDecodeResult savedResult = outcome.DecodeResult;
  const std::string savedDetail = outcome.DecodeDetail;
  const std::int64_t savedDone = outcome.BtsDone, savedTotal = run_->totalBytes_;
  TMemoryOutput target;
  bool decoded = false;
  try {
    OpenZip();
    currentEntry_->Assign(entry);
    TDriverHost host(*this);
    TDecodeState state(host);
    ReadEntryLocalHeader();
    decoded = DecodeEntry(state, target) && state.Crc() == entry.CRC32;
  } catch (const Exception&) {
    decoded = false;
  }
  outcome.DecodeResult = savedResult;
  outcome.DecodeDetail = savedDetail;
  outcome.BtsDone = savedDone;
  run_->totalBytes_ = savedTotal;
  CloseZip();
  if (!decoded) return std::nullopt;
  return std::move(target.Text);
}

}  // namespace kestrel

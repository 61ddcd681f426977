#include "unzip/kestrel_unzip.h"

#include <algorithm>
#include <cstring>

#include "platform/code_page.h"
#include "platform/host_ui.h"
#include "unzip/extraction_run.h"

namespace kestrel {

TKestrelUnZip::TKestrelUnZip()
    : currentEntry_(std::make_unique<TZipHeaderInfo>()), endCentral_(std::make_unique<TEndCentral>()) {
  currentEntry_->OEMConvert = oemConvert_;
  // The built-in handler works on the component that fires it, so a handler copied
  // by Assign serves its new owner.
  OnGetNextDisk = [](TKestrelUnZip& sender, std::int32_t nextDisk, std::string& fName) {
    sender.DefaultGetNextDisk(nextDisk, fName);
  };
}

TKestrelUnZip::~TKestrelUnZip() { ResetZip(); }

void TKestrelUnZip::Assign(const TKestrelUnZip& source) {
  if (&source == this) return;
  zipName_ = source.zipName_;
  destDir_ = source.destDir_;
  rootDir_ = source.rootDir_;
  sortMode_ = source.sortMode_;
  recreateDirs_ = source.recreateDirs_;
  overwriteMode_ = source.overwriteMode_;
  filesList_ = source.filesList_;
  excludeList_ = source.excludeList_;
  doAll_ = source.doAll_;
  incompleteZipMode_ = source.incompleteZipMode_;
  keepZipOpen_ = source.keepZipOpen_;
  doProcessMessages_ = source.doProcessMessages_;
  retainAttributes_ = source.retainAttributes_;
  replaceReadOnly_ = source.replaceReadOnly_;
  threads_ = source.threads_;
  matchMode_ = source.matchMode_;
  SetNameCharsets(source.nameCharsets_);
  textMode_ = source.textMode_;
  nameCase_ = source.nameCase_;
  timeRestore_ = source.timeRestore_;
  exactModes_ = source.exactModes_;
  keepSpecialBits_ = source.keepSpecialBits_;
  restoreOwners_ = source.restoreOwners_;
  OnStartUnZipInfo = source.OnStartUnZipInfo;
  OnFilePercentDone = source.OnFilePercentDone;
  OnTotalPercentDone = source.OnTotalPercentDone;
  OnStartUnZip = source.OnStartUnZip;
  OnEndUnZip = source.OnEndUnZip;
  OnPromptForOverwrite = source.OnPromptForOverwrite;
  OnSkippingFile = source.OnSkippingFile;
  OnRenamedFile = source.OnRenamedFile;
  OnBadPassword = source.OnBadPassword;
  OnBadCRC = source.OnBadCRC;
  OnInCompleteZip = source.OnInCompleteZip;
  OnGetNextDisk = source.OnGetNextDisk;
  OnUnZipComplete = source.OnUnZipComplete;
  OnGetNextBuffer = source.OnGetNextBuffer;
  OnOwnerNotSet = source.OnOwnerNotSet;
}

void TKestrelUnZip::SetDestDir(const std::string& value) {
  std::string folder = value;
  if (value == "?") {
    const auto chosen = platform::SelectFolderDialog("Select the destination folder");
    if (!chosen) throw EUserCanceled("User canceled Set Desination Directory");
    folder = *chosen;
  }
  // One trailing separator goes: the backslash, and the host's own where it differs.
  if (!folder.empty() && (folder.back() == '\\' || folder.back() == platform::HostPathRules().Separator)) {
    folder.pop_back();
  }
  destDir_ = std::move(folder);
}

void TKestrelUnZip::SetRootDir(const std::string& value) {
  if (value.empty()) {
    rootDir_.clear();
    return;
  }
  rootDir_ = value;
  if (rootDir_.back() != '\\') rootDir_ += '\\';
}

void TKestrelUnZip::SetNameCharsets(const TNameCharsets& value) {
  if (value.Oem == nameCharsets_.Oem && value.Unix == nameCharsets_.Unix) return;
  nameCharsets_ = value;
  currentEntry_->NameCharsets = value;
  // The names of a loaded directory were read under the old sets.
  if (directoryList_ && !inputStream_) FreeDirectory();
}

void TKestrelUnZip::SetOEMConvert(bool value) {
  oemConvert_ = value;
  currentEntry_->OEMConvert = value;
}

std::unique_ptr<TZipHeaderInfo> TKestrelUnZip::NewEntry() const {
  auto entry = std::make_unique<TZipHeaderInfo>();
  entry->OEMConvert = oemConvert_;
  entry->NameCharsets = nameCharsets_;
  return entry;
}

void TKestrelUnZip::CheckIndex(std::int32_t index) const {
  const TSortedZip* list = ZipInfo();
  if (list == nullptr || index < 0 || index >= list->Count())
    throw EListError("Index " + std::to_string(index) + " is out of range");
}

std::string TKestrelUnZip::FileName(std::int32_t index) {
  if (!directoryList_ && !zipName_.empty()) LoadZipDirectory();
  CheckIndex(index);
  return Entry(index).FileName();
}

std::string TKestrelUnZip::ReadArchiveText(std::uint64_t offset, std::uint16_t count) {
  std::string text(count, '\0');
  if (count == 0) return text;
  // The archive is opened for this read only when it is closed, and closed again.
  std::unique_ptr<TStream> opened;
  TStream* stream = archiveStream_.get();
  if (stream == nullptr) {
    opened = ArchiveOpener()();
    stream = opened.get();
  }
  const std::int64_t here = stream->Position();
  std::int32_t got = 0;
  if (stream->Seek(static_cast<std::int64_t>(offset), soFromBeginning) >= 0) got = stream->Read(text.data(), count);
  stream->SetPosition(here);
  text.resize(static_cast<std::size_t>(std::max(got, 0)));
  return text;
}

std::string TKestrelUnZip::FileComment(std::int32_t index) {
  if (!directoryList_ && !zipName_.empty()) LoadZipDirectory();
  CheckIndex(index);
  TZipHeaderInfo& entry = Entry(index);
  if (entry.Comment()) return *entry.Comment();
  if (!entry.HasComment()) return std::string();
  // The lengths of the name and the extra field come from the central header
  // itself, as stored, so a converted name does not shift the comment.
  const std::string header = ReadArchiveText(entry.CentralHeaderOffset, TCentralHeaderLayout::Size);
  if (header.size() != static_cast<std::size_t>(TCentralHeaderLayout::Size)) return std::string();
  const auto* raw = reinterpret_cast<const std::uint8_t*>(header.data());
  if (GetU32(raw) != TCentralHeaderLayout::Signature) return std::string();
  using L = TCentralHeaderLayout;
  const std::uint64_t at =
      entry.CentralHeaderOffset + L::Size + GetU16(raw + L::NameLengthAt) + GetU16(raw + L::ExtraLengthAt);
  std::string comment = entry.CommentText(ReadArchiveText(at, GetU16(raw + L::CommentLengthAt)));
  entry.CacheComment(comment);
  return comment;
}

void TKestrelUnZip::SetFileComment(std::int32_t index, const std::string& value) {
  if (!directoryList_ && !zipName_.empty()) LoadZipDirectory();
  CheckIndex(index);
  Entry(index).SetComment(value);
}

std::string TKestrelUnZip::ZipComment() {
  if (!directoryList_ && !zipName_.empty()) LoadZipDirectory();
  if (endCentral_->Comment()) return *endCentral_->Comment();
  if (!endCentral_->HasComment() || zipName_.empty()) return std::string();
  std::string comment = ReadArchiveText(endCentral_->CommentPos, endCentral_->CommentLength);
  endCentral_->SetComment(comment);
  return comment;
}

void TKestrelUnZip::SetZipComment(const std::string& value) {
  endCentral_->SetComment(value);
  endCentral_->CommentLength = static_cast<std::uint16_t>(std::min<std::size_t>(value.size(), 0xFFFF));
  endCentral_->Modified = true;
}

}  // namespace kestrel

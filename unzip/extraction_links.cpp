// The symbolic links of a run (TExtractionRun). A link entry's target is decoded
// in its turn, after the same checks as a file's, and kept; the links are made
// last, once every file is written, so that no entry can be written through one.
// A link whose target is absolute, climbs out of DestDir or steps back out of
// another link is refused. From a stream a link arrives as a file (its mode comes
// with the central directory, after its data): that file is taken back and kept
// as a link.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "unzip/decode/decode_state.h"
#include "unzip/decode_ahead.h"
#include "unzip/extraction_run.h"

namespace kestrel {
namespace {

// Whether the link's target, taken from the link's folder, stays below DestDir
// (whose own part of the path ends at destBase) and never steps back out of
// another link.
bool LinkTargetStaysInside(const std::string& fName, const std::string& target, const std::string& destBase,
                           const std::vector<std::string>& linkNames) {
  const platform::TPathRules& rules = platform::HostPathRules();
  auto separator = [&](char c) { return c == '/' || platform::IsPathSeparator(c, rules); };
  // A root or a drive leads anywhere.
  if (target.empty() || target.find('\0') != std::string::npos || separator(target[0]) ||
      (target.size() > 1 && target[1] == ':'))
    return false;
  // The folders from DestDir down to the link; a name a handler chose outside
  // DestDir's own part allows no climbing at all.
  std::vector<std::string> steps;
  auto split = [&](const std::string& path, auto take) {
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
      if (i < path.size() && !separator(path[i])) continue;
      if (!take(path.substr(start, i - start))) return false;
      start = i + 1;
    }
    return true;
  };
  const std::string folder = platform::PathFolder(fName, rules);
  if (fName.starts_with(destBase) && folder.size() > destBase.size()) {
    split(folder.substr(destBase.size()), [&](const std::string& step) {
      if (!step.empty() && step != ".") steps.push_back(step);
      return true;
    });
  }
  // Lexically, step by step. A ".." after a step through a link would climb from
  // wherever that link leads, which no spelling shows: refused.
  bool throughLink = false;
  return split(target, [&](const std::string& step) {
    if (step.empty() || step == ".") return true;
    if (step == "..") {
      if (steps.empty() || throughLink) return false;
      steps.pop_back();
      return true;
    }
    steps.push_back(step);
    if (!throughLink) {
      std::string path = destBase;
      for (const std::string& part : steps) {
        if (!path.empty() && !platform::IsPathSeparator(path.back(), rules)) path += rules.Separator;
        path += part;
      }
      throughLink =
          platform::IsSymbolicLink(path) || std::find(linkNames.begin(), linkNames.end(), path) != linkNames.end();
    }
    return true;
  });
}

}  // namespace

void TExtractionRun::UnZipLinkEntry(std::int32_t index, TDecodeState& state) {
  const std::optional<std::string> destination = EntryDestination(index, state, nullptr);
  if (!destination) return;
  const std::string& fName = *destination;
  const TZipHeaderInfo& entry = *unzip_.currentEntry_;
  if (entry.UncompressedSize > LongestLinkTarget) {
    ReportSkip(skLinkTarget, fName, index);
    DropFromTotals();
    return;
  }
  TMemoryOutput target;
  unzip_.DecodeEntry(state, target);
  if (unzip_.stream_.Source && !unzip_.CompleteStreamedEntry(index))
    throw EFatalUnzipError("Premature end of file reached");
  if (!JudgeCrc(index, state.Crc(), fName, false)) return;
  // The folder is made now, as for a file; the link itself once every file is in.
  platform::ForceFolders(platform::PathFolder(fName, platform::HostPathRules()));
  pendingLinks_.push_back(
      {index, fName, std::move(target.Text), entry.ModifiedTime, entry.DateTime, false, entry.Owner});
}

void TExtractionRun::TakeBackStreamedLinks() {
  for (const auto& [index, fName] : streamedFiles_) {
    const TZipHeaderInfo& entry = *unzip_.directoryList_->Items(index);
    // An empty name: the file was taken back when its entry was renamed.
    if (fName.empty() || !entry.IsSymbolicLink() || platform::IsSymbolicLink(fName)) continue;
    if (entry.UncompressedSize > LongestLinkTarget) {
      // A target longer than any path is refused, as it is from a file.
      platform::RemoveFile(fName);
      --fileCount_;
      ReportSkip(skLinkTarget, fName, index);
      continue;
    }
    platform::TFile file = platform::TFile::Open(fName, platform::TFileAccess::Read, platform::TFileShare::Read,
                                                 platform::TFileCreation::OpenExisting);
    // The target is what the file holds, as decoded: what a link from a file gets
    // too, should the data give fewer bytes than the header says.
    std::string target(static_cast<std::size_t>(entry.UncompressedSize), '\0');
    const std::int64_t got = file.IsOpen() ? file.Read(target.data(), target.size()) : -1;
    if (got < 0) continue;
    target.resize(static_cast<std::size_t>(got));
    file = platform::TFile();
    platform::RemoveFile(fName);
    pendingLinks_.push_back({index, fName, std::move(target), entry.ModifiedTime, entry.DateTime, true, entry.Owner});
  }
  streamedFiles_.clear();
}

void TExtractionRun::MakePendingLinks() {
  const platform::TPathRules& rules = platform::HostPathRules();
  std::vector<std::string> linkNames;
  for (const TPendingLink& link : pendingLinks_) linkNames.push_back(link.FName);
  for (const TPendingLink& link : pendingLinks_) {
    auto refuse = [&](TSkipReason reason) {
      if (link.Counted) --fileCount_;
      ReportSkip(reason, link.FName, link.Index);
    };
    // A link made before this one may stand in its folders now.
    if (PathHasLinks(platform::PathFolder(link.FName, rules), destBase_.size())) {
      refuse(skPathThroughLink);
      continue;
    }
    if (!LinkTargetStaysInside(link.FName, link.Target, destBase_, linkNames)) {
      refuse(skLinkTarget);
      continue;
    }
    // What stands there was allowed to go by the overwrite policy; a folder never
    // goes, and a link is replaced, never followed.
    if (platform::IsSymbolicLink(link.FName)) {
      platform::RemoveFile(link.FName);
    } else if (platform::FolderExists(link.FName)) {
      refuse(skLinkOverFolder);
      continue;
    } else if (platform::FileExists(link.FName)) {
      platform::RemoveFile(link.FName);
    }
    if (!platform::MakeSymbolicLink(link.Target, link.FName)) {
      refuse(skLinkFailed);
      continue;
    }
    RestoreOwner(link.Index, link.FName, link.Owner, nullptr);
    if (unzip_.timeRestore_ != trNone) StampPathTime(link.FName, link.Time, link.DosTime);
    if (link.Counted) continue;
    if (unzip_.OnEndUnZip) unzip_.OnEndUnZip(unzip_, link.Index, link.FName);
    ++fileCount_;
  }
  pendingLinks_.clear();
}

}  // namespace kestrel

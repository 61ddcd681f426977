#include "unzip/entry_selection.h"

#include <algorithm>
#include <utility>

#include "platform/code_page.h"
#include "platform/file_system.h"
#include "unzip/wildcard_match.h"

namespace kestrel {

std::string CasedStoredPath(const TZipHeaderInfo& entry, TNameCase mode) {
  if (mode == ncAll || (mode == ncUpperCaseHosts && entry.MadeUpperCaseOnly()))
    return platform::AnsiLowerCase(entry.StoredPath());
  return entry.StoredPath();
}

TEntryPatterns::TEntryPatterns(const std::vector<std::string>& patterns, TMatchMode mode, TNameCase nameCase)
    : mode_(mode), nameCase_(nameCase) {
  if (mode != mmComponent) {
    // Read as given: "\" escapes, and "/" matches the separator of MatchedPath.
    patterns_ = patterns;
    for (std::size_t i = 0; i < patterns_.size(); ++i) wildcards_.push_back(i);
    return;
  }
  patterns_.reserve(patterns.size());
  // Stored paths carry backslashes; on a host whose separator is "/", a pattern
  // spelled with it ("docs/*") means the same folders. No stored path holds a "/",
  // so such a pattern could match nothing otherwise.
  const char hostSeparator = platform::HostPathRules().Separator;
  for (const std::string& pattern : patterns) {
    std::string lowered = platform::AnsiLowerCase(pattern);
    if (hostSeparator != '\\') std::replace(lowered.begin(), lowered.end(), hostSeparator, '\\');
    if (lowered.find_first_of("*?<") == std::string::npos) {
      literals_.insert(lowered);
    } else {
      wildcards_.push_back(patterns_.size());
    }
    patterns_.push_back(std::move(lowered));
  }
}

bool TEntryPatterns::MatchAny(const TZipHeaderInfo& entry) const {
  if (patterns_.empty()) return false;
  const std::string path = MatchedPath(entry);
  if (literals_.count(path) != 0) return true;
  for (const std::size_t i : wildcards_)
    if (MatchPath(i, path)) return true;
  return false;
}

bool TEntryPatterns::Match(std::size_t i, const TZipHeaderInfo& entry) const {
  return MatchPath(i, MatchedPath(entry));
}

std::string TEntryPatterns::MatchedPath(const TZipHeaderInfo& entry) const {
  if (mode_ == mmComponent) return platform::AnsiLowerCase(entry.StoredPath());
  std::string path = CasedStoredPath(entry, nameCase_);
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

bool TEntryPatterns::MatchPath(std::size_t i, const std::string& path) const {
  if (mode_ == mmComponent) return WildcardMatch(patterns_.at(i), path);
  return MemberMatch(patterns_.at(i), path, mode_ == mmAnyCase);
}

TEntrySelection::TEntrySelection(bool doAll, const std::vector<std::string>& files,
                                 const std::vector<std::string>& excludes, bool countMatches, TMatchMode mode,
                                 TNameCase nameCase)
    : doAll_(doAll),
      countMatches_(countMatches),
      files_(files, mode, nameCase),
      excludes_(excludes, mode, nameCase),
      filesMatched_(countMatches ? files.size() : 0, false),
      excludesMatched_(countMatches ? excludes.size() : 0, false) {}

bool TEntrySelection::Takes(const TZipHeaderInfo& entry) {
  if (!countMatches_) return (doAll_ || files_.MatchAny(entry)) && !excludes_.MatchAny(entry);
  const std::string path = files_.MatchedPath(entry);
  bool taken = doAll_;
  for (std::size_t i = 0; i < files_.Count(); ++i)
    if (files_.MatchPath(i, path)) taken = filesMatched_[i] = true;
  bool excluded = false;
  for (std::size_t i = 0; i < excludes_.Count(); ++i)
    if (excludes_.MatchPath(i, path)) excluded = excludesMatched_[i] = true;
  return taken && !excluded;
}

TSelection TEntrySelection::Select(const TSortedZip* entries) {
  TSelection selection;
  const std::int32_t count = entries != nullptr ? entries->Count() : 0;
  selection.Taken.assign(static_cast<std::size_t>(count), false);
  for (std::int32_t i = 0; i < count; ++i) {
    if (!Takes(*entries->Items(i))) continue;
    selection.Taken[static_cast<std::size_t>(i)] = true;
    ++selection.Count;
  }
  selection.FilesMatched = filesMatched_;
  selection.ExcludesMatched = excludesMatched_;
  return selection;
}

}  // namespace kestrel

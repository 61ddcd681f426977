#include "unzip/entry_selection.h"

#include <algorithm>
#include <utility>

#include "platform/code_page.h"
#include "platform/file_system.h"
#include "unzip/wildcard_match.h"

namespace kestrel {

TEntryPatterns::TEntryPatterns(const std::vector<std::string>& patterns) {
  patterns_.reserve(patterns.size());
  // Stored paths carry backslashes; on a host whose separator is "/", a pattern
  // spelled with it ("docs/*") means the same folders. No stored path holds a "/",
  // so such a pattern could match nothing otherwise.
  const char hostSeparator = platform::HostPathRules().Separator;
  for (const std::string& pattern : patterns) {
    std::string lowered = platform::AnsiLowerCase(pattern);
    if (hostSeparator != '\\') std::replace(lowered.begin(), lowered.end(), hostSeparator, '\\');
    patterns_.push_back(std::move(lowered));
  }
}

bool TEntryPatterns::MatchAny(const TZipHeaderInfo& entry) const {
  if (patterns_.empty()) return false;
  const std::string path = platform::AnsiLowerCase(entry.StoredPath());
  return std::any_of(patterns_.begin(), patterns_.end(),
                     [&](const std::string& pattern) { return WildcardMatch(pattern, path); });
}

bool TEntryPatterns::Match(std::size_t i, const TZipHeaderInfo& entry) const {
  return MatchLowered(i, platform::AnsiLowerCase(entry.StoredPath()));
}

bool TEntryPatterns::MatchLowered(std::size_t i, const std::string& loweredPath) const {
  return WildcardMatch(patterns_.at(i), loweredPath);
}

TEntrySelection::TEntrySelection(bool doAll, const std::vector<std::string>& files,
                                 const std::vector<std::string>& excludes, bool countMatches)
    : doAll_(doAll),
      countMatches_(countMatches),
      files_(files),
      excludes_(excludes),
      filesMatched_(countMatches ? files.size() : 0, false),
      excludesMatched_(countMatches ? excludes.size() : 0, false) {}

bool TEntrySelection::Takes(const TZipHeaderInfo& entry) {
  if (!countMatches_) return (doAll_ || files_.MatchAny(entry)) && !excludes_.MatchAny(entry);
  const std::string path = platform::AnsiLowerCase(entry.StoredPath());
  bool taken = doAll_;
  for (std::size_t i = 0; i < files_.Count(); ++i)
    if (files_.MatchLowered(i, path)) taken = filesMatched_[i] = true;
  bool excluded = false;
  for (std::size_t i = 0; i < excludes_.Count(); ++i)
    if (excludes_.MatchLowered(i, path)) excluded = excludesMatched_[i] = true;
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

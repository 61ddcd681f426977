#pragma once
// The selection of an extraction: which entries DoAll, FilesList and ExcludeList
// take, and which of those patterns matched anything. Both doors of the component
// select by it, and a front end that words what matched selects as they do.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "unzip/member_match.h"
#include "unzip/sorted_zip.h"
#include "unzip/zip_records.h"

namespace kestrel {

/// Which stored names an extraction makes lower case.
enum TNameCase : std::uint8_t {
  ncAsStored = 0,
  ncUpperCaseHosts = 1,  ///< the names of systems whose names are upper case only
  ncAll = 2,
};

/// The stored path of an entry as a name case makes it.
std::string CasedStoredPath(const TZipHeaderInfo& entry, TNameCase mode);

/// The selection rule for one list of patterns. With mmComponent a pattern matches
/// an entry when WildcardMatch takes it for the entry's stored path, both
/// lower-cased, with the host's separator standing for the stored backslash; with
/// the other modes when MemberMatch takes it for the stored path spelled with "/",
/// in the name case that the extraction gives it.
/// A caller that lists entries selects them as an extraction would.
class TEntryPatterns {
 public:
  explicit TEntryPatterns(const std::vector<std::string>& patterns, TMatchMode mode = mmComponent,
                          TNameCase nameCase = ncAsStored);
  /// True when one of the patterns matches the entry.
  bool MatchAny(const TZipHeaderInfo& entry) const;
  /// True when pattern i (in the order given) matches the entry.
  bool Match(std::size_t i, const TZipHeaderInfo& entry) const;
  std::size_t Count() const { return patterns_.size(); }

 private:
  friend class TEntrySelection;
  /// The entry's stored path as the mode's matcher reads it.
  std::string MatchedPath(const TZipHeaderInfo& entry) const;
  /// True when pattern i matches a path that MatchedPath gave.
  bool MatchPath(std::size_t i, const std::string& path) const;

  std::vector<std::string> patterns_;
  // The component's patterns without a wildcard match their own text alone: a set
  // of them answers at once, so that a caller selecting thousands of entries by
  // name costs no match of each entry against each name.
  std::unordered_set<std::string> literals_;
  std::vector<std::size_t> wildcards_;  ///< the other patterns, by index
  TMatchMode mode_;
  TNameCase nameCase_;
};

/// What a selection takes of a list of entries.
struct TSelection {
  /// By index of the list: the entry is taken.
  std::vector<bool> Taken;
  /// How many entries are taken.
  std::int32_t Count = 0;
  /// Per pattern, in the order given: it matched at least one entry.
  std::vector<bool> FilesMatched;
  std::vector<bool> ExcludesMatched;
};

/// The selection of an extraction, judged entry by entry: every entry with doAll,
/// else those that a pattern of files matches; never one that a pattern of
/// excludes matches.
class TEntrySelection {
 public:
  /// With countMatches, every pattern is tried on every entry, so that
  /// FilesMatched and ExcludesMatched are complete; without, the first match
  /// decides and they stay unset. The mode says how the patterns are read, the
  /// name case which names they are matched against.
  TEntrySelection(bool doAll, const std::vector<std::string>& files, const std::vector<std::string>& excludes,
                  bool countMatches = false, TMatchMode mode = mmComponent, TNameCase nameCase = ncAsStored);
  /// True when the selection takes the entry.
  bool Takes(const TZipHeaderInfo& entry);
  /// The selection of a whole list, with the patterns that matched.
  TSelection Select(const TSortedZip* entries);

 private:
  bool doAll_;
  bool countMatches_;
  TEntryPatterns files_, excludes_;
  std::vector<bool> filesMatched_, excludesMatched_;
};

}  // namespace kestrel

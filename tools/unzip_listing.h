#pragma once
// kestrel-unzip's listings, laid out column for column as unzip's: -l (length,
// date, time, name, totals), -v (length, method, size, ratio, date, time, CRC-32,
// name, totals) and -Z1 (names only). The numbers are the component's.

#include <cstdint>
#include <string>
#include <vector>

#include "unzip/kestrel_unzip.h"
#include "unzip/zip_records.h"

namespace kestrel::tool {

/// The compression ratio as unzip shows it: the share saved, rounded to a whole
/// per cent ("59%", "-1%", "-0%" for a loss below half a per cent; "100%" when
/// it rounds to 100 either way).
std::string CompressionRatio(std::uint64_t uncompressed, std::uint64_t compressed);

enum class TListingKind { Short, Verbose, NamesOnly };

/// Collects the lines of one listing.
class TListing {
 public:
  /// quiet 1 leaves out the archive line and the comments, 2 the headings and totals too.
  TListing(TListingKind kind, int quiet) : kind_(kind), quiet_(quiet) {}
  /// -L, -LL: names as the extraction makes them; the short and verbose forms
  /// mark with "^" each name the rule applies to, and say so in their heading.
  void SetNameCase(TNameCase nameCase) { nameCase_ = nameCase; }

  /// The line that names the archive, on its own: it comes first, before the
  /// archive is read.
  static std::string ArchiveLine(const std::string& archive);
  /// The archive's comment (empty: none) and the headings.
  void Begin(const std::string& comment);
  /// One entry, with its comment (empty: none). A symbolic link is listed as
  /// unzip lists it, by its name alone (--json and -Z give its target and mode).
  void Entry(const TZipHeaderInfo& entry, const std::string& comment);
  /// The totals.
  void End();
  /// The lines so far, each ending with the console's line end.
  const std::string& Text() const { return text_; }

 private:
  void Line(const std::string& line);
  TListingKind kind_;
  int quiet_;
  TNameCase nameCase_ = ncAsStored;
  std::string text_;
  std::uint64_t entries_ = 0, uncompressed_ = 0, compressed_ = 0;
};

/// The stored path as listings show it: "/" between folders, control characters escaped.
std::string ListedPath(const TZipHeaderInfo& entry);

/// An archive comment as unzip prints it: control characters escaped, its lines
/// ended by LF alone, without the line end of its last line.
std::string CommentLines(const std::string& comment);

/// A CRC-32 as the listings and the messages write it: eight lower-case hex digits.
std::string CrcText(std::uint32_t crc);
/// A count and its noun, "1 file", "2 files", as the totals and summaries write them.
std::string Plural(std::uint64_t count, const char* noun);

}  // namespace kestrel::tool

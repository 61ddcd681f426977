#pragma once
// zipinfo's full report (kestrel-unzip -Z -v): the archive's comment and end
// record, then every entry's central-directory fields one a line, its extra
// fields and its comment, laid out line for line as zipinfo lays them out.

#include <cstdint>
#include <optional>
#include <string>

#include "tools/zipinfo_listing.h"
#include "unzip/zip_records.h"

namespace kestrel::tool {

/// Collects the lines of one report.
class TZipInfoReport {
 public:
  /// archive: the file whose central headers the extra fields are read from
  /// again (none for standard input: the fields are then not listed).
  explicit TZipInfoReport(const std::string& archive);

  /// The archive's comment and its end record.
  void Begin(const TZipInfoArchive& archive, const TEndCentral& end);
  /// What an archive without entries gets instead of them.
  void Empty();
  /// One entry, numbered from 1 in the order of the central directory.
  void Entry(const TZipHeaderInfo& entry, std::uint64_t number, const std::string& comment);
  const std::string& Text() const { return text_; }

 private:
  void Line(const std::string& line);
  /// "  label:" padded to zipinfo's column, then the value.
  void Field(const std::string& label, const std::string& value);
  void MethodLines(const TZipHeaderInfo& entry);
  void TimeLines(const TZipHeaderInfo& entry, const std::string& extra);
  void AttributeLines(const TZipHeaderInfo& entry);
  void ExtraFieldLines(const std::string& extra);
  void CommentLines(const std::string& comment);
  /// The central extra field as stored, read again from the archive.
  std::string CentralExtraField(const TZipHeaderInfo& entry) const;

  std::string archive_;
  std::string text_;
  /// Where the entry after the one reported last should start, as its central
  /// header tells it (without a data descriptor).
  std::optional<std::uint64_t> expectedNext_;
  /// Subtracted from where things lie to give the offsets as stored.
  std::uint64_t prepended_ = 0;
};

}  // namespace kestrel::tool

#pragma once
// kestrel-unzip's zipinfo mode (-Z): the listings of zipinfo, laid out column for
// column as zipinfo lays them out: the names (-1, -2), the short Unix form (-s,
// the default), the medium (-m, with the ratio) and long (-l, with the compressed
// size) forms, the header (-h), the totals (-t), the comment (-z) and the sortable
// times (-T). The full report (-v) is in zipinfo_report.h. The numbers are the
// component's.
//
// The entry facts the forms are made of are here too, for every listing that
// shows them: the host system, the method's abbreviation, the permission string.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "tools/unzip_options.h"
#include "unzip/kestrel_unzip.h"
#include "unzip/zip_records.h"

namespace kestrel::tool {

/// The host system of an entry (the high byte of "version made by") in three
/// letters, as zipinfo names it: "fat", "unx", "ntf", "osx", ... and "???" for a
/// number without a name.
std::string HostAbbreviation(std::uint16_t versionMadeBy);
/// The host system in words, as zipinfo's report names it: "MS-DOS, OS/2 or NT
/// FAT", "Unix", ... and "unknown (N)" for a number without a name.
std::string HostName(std::uint16_t versionMadeBy);
/// A version byte of the headers ("version made by" or "needed") as "major.minor":
/// 30 is "3.0", 255 "25.5".
std::string ZipVersionText(std::uint8_t version);
/// The method in four letters, as zipinfo abbreviates it: "stor", "shrk", "re:1",
/// "i4:3" (implode's dictionary and trees), "defN", "defX", "defF", "defS"
/// (deflate's level), "d64N", "bzp2", "lzma", "ppmd", ... and "u099" for a number
/// without a name.
std::string MethodAbbreviation(std::uint16_t method, std::uint16_t flags);
/// The entry's attributes as zipinfo shows them: "-rw-r--r--" from the Unix mode
/// where the host keeps one, "-rwxa--" from the MS-DOS attributes of a FAT-like
/// host (with "x" for a program's extension).
std::string PermissionString(const TZipHeaderInfo& entry);
/// An Amiga entry's protection (the high 16 bits of its external attributes):
/// "d" for a folder, "-" for a file, "?" for neither, then "hsparwed" as set.
std::string AmigaProtection(std::uint32_t mode);
/// A VMS entry's protection as its Unix-like mode gives it: "RWED" letters for
/// owner, group and world ("RWED,RE,RE"), in parentheses with the system's
/// (the owner's) first when withSystem ("(RWED,RWED,RE,RE)").
std::string VmsProtection(std::uint32_t mode, bool withSystem);
/// Whether bit 15 of the attributes announces an old Info-ZIP Unix field (0x5855)
/// in the local header, as the zip ports of FAT, Unix, OS/2 and NTFS set it.
bool OldUnixFieldAnnounced(const TZipHeaderInfo& entry);
/// The two letters of the type column: "t" text or "b" binary (upper case when
/// encrypted), then "x" for an extra field, "l" for sizes after the data, "X" for
/// both, "-" for neither.
std::string TypeLetters(const TZipHeaderInfo& entry);
/// The entry's last-modified time in local time: the exact time where the entry
/// has one, else its DOS date-time.
platform::TCalendar EntryLocalTime(const TZipHeaderInfo& entry);
/// The compressed size of an entry without the 12 bytes of a traditional
/// encryption header, as the ratio and the totals count it.
std::uint64_t SizeWithoutEncryptionHeader(const TZipHeaderInfo& entry);

/// The archive facts that zipinfo's header shows.
struct TZipInfoArchive {
  std::string Name;
  std::uint64_t FileSize = 0;
  std::uint64_t Entries = 0;
  std::string Comment;  ///< empty: none
  /// Bytes in front of the archive (a self-extractor's program): the offsets
  /// the headers store are that much smaller than where things lie.
  std::uint64_t PrependedBytes = 0;
};

/// Collects the lines of one zipinfo listing (all forms but -v).
class TZipInfoListing {
 public:
  /// filtered: members or exclusions were given, which turns the header and the
  /// totals off unless asked for.
  TZipInfoListing(const TZipInfoOptions& options, bool filtered);

  /// Whether the "Archive:" line comes first, before the archive is read.
  bool ShowsArchiveLine() const { return header_; }
  static std::string ArchiveLine(const std::string& archive);
  /// The comment and the header, as asked for.
  void Begin(const TZipInfoArchive& archive);
  /// What an archive without entries gets instead of the entries and totals.
  void Empty();
  void Entry(const TZipHeaderInfo& entry);
  /// The totals, as asked for.
  void End();
  const std::string& Text() const { return text_; }

 private:
  void Line(const std::string& line);
  std::string EntryLine(const TZipHeaderInfo& entry) const;
  TZipInfoOptions options_;
  bool header_ = false, totals_ = false, comment_ = false, entries_ = true;
  std::string text_;
  std::uint64_t count_ = 0, uncompressed_ = 0, compressed_ = 0;
};

/// One zipinfo listing of a loaded archive, to standard output: the "Archive:"
/// line as soon as it is made, the rest once the archive is read.
class TZipInfoRun {
 public:
  TZipInfoRun(const TToolCommand& command, const std::string& archive, bool filtered);
  /// An archive without entries: the header as asked for and "Empty zipfile.";
  /// returns the status (1).
  int ListEmpty(TKestrelUnZip& unzip);
  /// The selected entries (selected[i] for entry i).
  void List(TKestrelUnZip& unzip, const std::vector<bool>& selected);

 private:
  TZipInfoArchive Archive(TKestrelUnZip& unzip) const;
  const TToolCommand& command_;
  std::string archive_;
  TZipInfoListing listing_;
};

}  // namespace kestrel::tool

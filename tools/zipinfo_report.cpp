#include "tools/zipinfo_report.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <vector>

#include "platform/file_system.h"
#include "tools/terminal_text.h"
#include "tools/unzip_listing.h"

namespace kestrel::tool {
namespace {

constexpr const char* MonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The column where zipinfo's values start.
constexpr std::size_t ValueColumn = 50;

std::uint16_t U16(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[at]) | static_cast<std::uint8_t>(bytes[at + 1])
                                                                               << 8);
}

std::uint32_t U32(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(U16(bytes, at)) | static_cast<std::uint32_t>(U16(bytes, at + 2)) << 16;
}

std::string Hex(std::uint64_t value, int digits) {
  char text[32];
  std::snprintf(text, sizeof text, "%0*" PRIX64, digits, value);
  return text;
}

// "58954 (000000000000E64Ah)": a size or offset and its hex digits.
std::string WithHex(std::uint64_t value) { return std::to_string(value) + " (" + Hex(value, 16) + "h)"; }

/// A line of the end record's section: the label, then the number set right so that
/// it ends in column 50, as zipinfo sets the sizes and offsets of that section.
std::string RightAligned(std::string label, std::uint64_t value) {
  constexpr std::size_t NumberEnd = 50;
  const std::string number = std::to_string(value);
  label.resize(std::max(label.size() + 1, NumberEnd - std::min(NumberEnd, number.size())), ' ');
  return label + number + " (" + Hex(value, 16) + "h)";
}

std::string CalendarText(const platform::TCalendar& when) {
  char text[64];
  const char* month = when.Month >= 1 && when.Month <= 12 ? MonthNames[when.Month - 1] : "???";
  std::snprintf(text, sizeof text, "%d %s %d %02d:%02d:%02d", when.Year, month, when.Day, when.Hour, when.Minute,
                when.Second);
  return text;
}

// The bytes as two lower-case hex digits each, a space between.
std::string HexBytes(const std::string& bytes) {
  std::string text;
  char digits[4];
  for (const char c : bytes) {
    std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned>(static_cast<std::uint8_t>(c)));
    if (!text.empty()) text += ' ';
    text += digits;
  }
  return text;
}

const char* ExtraFieldName(std::uint16_t id) {
  switch (id) {
    case 0x0001:
      return "PKWARE 64-bit sizes";
    case 0x000a:
      return "PKWARE Win32";
    case 0x5455:
      return "universal time";
    case 0x5855:
      return "old Info-ZIP Unix/OS2/NT";
    case 0x7075:
      return "UTF8 path name";
    case 0x7875:
      return "Unix UID/GID (any size)";
    default:
      return "unknown";
  }
}

std::string MethodName(std::uint16_t method) {
  switch (method) {
    case 0:
      return "none (stored)";
    case 1:
      return "shrunk";
    case 2:
    case 3:
    case 4:
    case 5:
      return "reduced (factor " + std::to_string(method - 1) + ")";
    case 6:
      return "imploded";
    case 7:
      return "tokenized";
    case 8:
      return "deflated";
    case 9:
      return "deflated (enhanced-64k)";
    case 10:
      return "imploded (PK DCL)";
    case 12:
      return "bzipped";
    case 14:
      return "LZMA-ed";
    case 18:
      return "tersed (IBM)";
    case 19:
      return "LZ77-compressed (IBM)";
    case 97:
      return "WavPacked";
    case 98:
      return "PPMd-ed";
    default:
      return "unknown (" + std::to_string(method) + ")";
  }
}

// The MS-DOS attributes in words: "none", "read-only", or "rdo hid sys lab dir arc lnk exe " as set.
std::string DosAttributeWords(std::uint8_t attributes) {
  if (attributes == 0) return "none";
  if (attributes == 1) return "read-only";
  static constexpr const char* Words[] = {"rdo", "hid", "sys", "lab", "dir", "arc", "lnk", "exe"};
  std::string text;
  for (int bit = 0; bit < 8; ++bit)
    if ((attributes & (1u << bit)) != 0) text.append(Words[bit]).append(bit < 7 ? " " : "");
  return text;
}

// What the flags of an extended timestamp field say it holds.
std::string TimesHeld(std::uint8_t flags) {
  std::vector<const char*> names;
  if ((flags & 1) != 0) names.push_back("modification");
  if ((flags & 2) != 0) names.push_back("access");
  if ((flags & 4) != 0) names.push_back("creation");
  if (names.empty()) names.push_back("modification");
  std::string text;
  for (const char* name : names) {
    if (!text.empty()) text += '/';
    text += name;
  }
  return text + (names.size() > 1 ? " times" : " time");
}

bool LeapYear(std::int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// The UTC calendar time of seconds since 1970: whole years, then whole months,
// counted off the days.
platform::TCalendar UtcCalendar(std::int64_t seconds) {
  std::int64_t days = seconds / 86400, inDay = seconds % 86400;
  if (inDay < 0) inDay += 86400, --days;
  std::int64_t year = 1970;
  while (days < 0) days += LeapYear(--year) ? 366 : 365;
  while (days >= (LeapYear(year) ? 366 : 365)) days -= LeapYear(year++) ? 366 : 365;
  static constexpr int MonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int month = 0;
  for (;;) {
    const int length = MonthDays[month] + (month == 1 && LeapYear(year) ? 1 : 0);
    if (days < length) break;
    days -= length;
    ++month;
  }
  platform::TCalendar when;
  when.Year = static_cast<int>(year), when.Month = month + 1, when.Day = static_cast<int>(days) + 1;
  when.Hour = static_cast<int>(inDay / 3600), when.Minute = static_cast<int>(inDay / 60 % 60);
  when.Second = static_cast<int>(inDay % 60);
  return when;
}

// The length of the local extra field as the central one lets it be guessed: the
// central extended timestamp holds the modification time alone, the local one
// every time its flags name; the old Unix field's local form adds the user and
// group.
std::uint64_t LocalExtraLength(const std::string& extra, const TZipHeaderInfo& entry) {
  std::uint64_t length = entry.CentralExtraLength;
  if (OldUnixFieldAnnounced(entry) && entry.VersionMadeBy >> 8 != 0) length += 8;
  for (std::size_t at = 0; at + 4 <= extra.size();) {
    const std::uint16_t id = U16(extra, at), size = U16(extra, at + 2);
    if (id == 0x5455 && size >= 1) {
      const unsigned flags = static_cast<std::uint8_t>(extra[at + 4]) & 7;
      const unsigned times = (flags & 1) + ((flags >> 1) & 1) + ((flags >> 2) & 1);
      if (times > 1) length += 4 * (times - 1);
    } else if (id == 0x5855) {
      length += 4;
    }
    at += 4 + size;
  }
  return length;
}

}  // namespace

TZipInfoReport::TZipInfoReport(const std::string& archive) : archive_(archive) {}

void TZipInfoReport::Line(const std::string& line) {
  text_ += line;
  text_ += platform::ConsoleLineEnding();
}

void TZipInfoReport::Field(const std::string& label, const std::string& value) {
  std::string line = "  " + label + ":";
  if (line.size() < ValueColumn) line.resize(ValueColumn, ' ');
  Line(line + value);
}

void TZipInfoReport::Begin(const TZipInfoArchive& archive, const TEndCentral& end) {
  if (archive.Comment.empty()) {
    Line("There is no zipfile comment.");
  } else {
    Line("The zipfile comment is " + std::to_string(archive.Comment.size()) +
         " bytes long and contains the following text:");
    Line("======================== zipfile comment begins ==========================");
    Line(TerminalText(archive.Comment, true));
    Line("========================= zipfile comment ends ===========================");
  }
  prepended_ = archive.PrependedBytes;
  Line("");
  Line("End-of-central-directory record:");
  Line("-------------------------------");
  Line("");
  Line(RightAligned("  Zip archive file size:", archive.FileSize));
  // Where the end records start (a ZIP64 record's place, where there is one)
  // and where the directory's stored offset and size say they start.
  const std::uint64_t directory = end.CentralDirOffset >= prepended_ ? end.CentralDirOffset - prepended_ : 0;
  Line(RightAligned("  Actual end-cent-dir record offset:", end.RecordsStart));
  Line(RightAligned("  Expected end-cent-dir record offset:", directory + end.CentralDirSize));
  Line("  (based on the length of the central directory and its expected offset)");
  Line("");
  if (end.ThisDisk == 0 && end.CentralDirDisk == 0) {
    Line("  This zipfile constitutes the sole disk of a single-part archive; its");
    Line("  central directory contains " + std::to_string(end.TotalEntries) +
         (end.TotalEntries == 1 ? " entry." : " entries."));
    Line("  The central directory is " + WithHex(end.CentralDirSize) + " bytes long,");
    Line("  and its (expected) offset in bytes from the beginning of the zipfile");
    Line("  is " + WithHex(directory) + ".");
  } else {
    Line("  This zipfile constitutes disk " + std::to_string(end.ThisDisk + 1) +
         " of a multi-part archive.  The central");
    Line("  directory starts on disk " + std::to_string(end.CentralDirDisk + 1) +
         " at an offset within that archive part");
    Line("  of " + WithHex(directory) + " bytes.  The entire");
    Line("  central directory is " + WithHex(end.CentralDirSize) + " bytes long.");
    Line("  " + std::to_string(end.EntriesThisDisk) +
         " of the archive entries are contained within this zipfile volume,");
    Line("  out of a total of " + std::to_string(end.TotalEntries) + " entries.");
  }
  Line("");
}

void TZipInfoReport::Empty() {
  Line("");
  Line("  Empty zipfile.");
}

void TZipInfoReport::Entry(const TZipHeaderInfo& entry, std::uint64_t number, const std::string& comment) {
  const std::string extra = CentralExtraField(entry);
  // The end record's lines end with a blank line, and so does each entry: a second
  // one sets the first entry apart.
  if (!expectedNext_) Line("");
  Line("Central directory entry #" + std::to_string(number) + ":");
  Line("---------------------------");
  Line("");
  // What lies between the entry reported before and this one: a data
  // descriptor, or bytes of no entry.
  if (expectedNext_ && *expectedNext_ != entry.LocalHeaderOffset) {
    const auto gap = static_cast<std::int64_t>(entry.LocalHeaderOffset - *expectedNext_);
    char text[80];
    std::snprintf(text, sizeof text, "  There are an extra %lld bytes preceding this file.",
                  static_cast<long long>(gap));
    Line(text);
    Line("");
  }
  expectedNext_ =
      entry.LocalHeaderOffset + 30 + entry.RawName().size() + LocalExtraLength(extra, entry) + entry.CompressedSize;
  Line("  " + ListedPath(entry));
  Line("");
  const std::uint64_t offset = entry.LocalHeaderOffset >= prepended_ ? entry.LocalHeaderOffset - prepended_ : 0;
  Field("offset of local header from start of archive", std::to_string(offset));
  Line(std::string(ValueColumn, ' ') + "(" + Hex(offset, 16) + "h) bytes");
  Field("file system or operating system of origin", HostName(entry.VersionMadeBy));
  Field("version of encoding software", ZipVersionText(static_cast<std::uint8_t>(entry.VersionMadeBy & 0xFF)));
  Field("minimum file system compatibility required", HostName(entry.VersionNeeded));
  Field("minimum software version required to extract",
        ZipVersionText(static_cast<std::uint8_t>(entry.VersionNeeded & 0xFF)));
  MethodLines(entry);
  Field("file security status", entry.Encrypted() ? "encrypted" : "not encrypted");
  Field("extended local header", entry.HasDataDescriptor() ? "yes" : "no");
  TimeLines(entry, extra);
  Field("32-bit CRC value (hex)", CrcText(entry.CRC32));
  Field("compressed size", std::to_string(entry.CompressedSize) + " bytes");
  Field("uncompressed size", std::to_string(entry.UncompressedSize) + " bytes");
  Field("length of filename", std::to_string(entry.RawName().size()) + " characters");
  Field("length of extra field", std::to_string(entry.CentralExtraLength) + " bytes");
  Field("length of file comment", std::to_string(entry.CommentLength) + " characters");
  Field("disk number on which file begins", "disk " + std::to_string(entry.DiskStart + 1));
  Field("apparent file type", (entry.InternalAttributes & 1) != 0 ? "text" : "binary");
  AttributeLines(entry);
  Line("");
  ExtraFieldLines(extra);
  // Bit 15 of the attributes' low word: an old Info-ZIP Unix field in the local
  // header, which a FAT host may have left out.
  if (OldUnixFieldAnnounced(entry)) {
    Line(std::string("  There ") + (entry.VersionMadeBy >> 8 == 0 ? "may be" : "is") +
         " a local extra field with ID 0x5855 (old Info-ZIP Unix/OS2/NT) and");
    Line("  8 data bytes (GMT modification/access times only).");
    Line("");
  }
  CommentLines(comment);
}

void TZipInfoReport::MethodLines(const TZipHeaderInfo& entry) {
  Field("compression method", MethodName(entry.CompressionMethod));
  if (entry.CompressionMethod == 8 || entry.CompressionMethod == 9) {
    static constexpr const char* Levels[] = {"normal", "maximum", "fast", "superfast"};
    Field("compression sub-type (deflation)", Levels[(entry.Flags >> 1) & 3]);
  } else if (entry.CompressionMethod == 6) {
    Field("size of sliding dictionary (implosion)", (entry.Flags & 2) != 0 ? "8K" : "4K");
    Field("number of Shannon-Fano trees (implosion)", (entry.Flags & 4) != 0 ? "3" : "2");
  }
}

void TZipInfoReport::TimeLines(const TZipHeaderInfo& entry, const std::string& extra) {
  platform::TCalendar dos;
  dos.Year = 1980 + static_cast<int>(entry.DateTime >> 25);
  dos.Month = static_cast<int>((entry.DateTime >> 21) & 0x0F);
  dos.Day = static_cast<int>((entry.DateTime >> 16) & 0x1F);
  dos.Hour = static_cast<int>((entry.DateTime >> 11) & 0x1F);
  dos.Minute = static_cast<int>((entry.DateTime >> 5) & 0x3F);
  dos.Second = static_cast<int>((entry.DateTime & 0x1F) * 2);
  Field("file last modified on (DOS date/time)", CalendarText(dos));
  // The extended timestamp's modification time, where the central field holds one.
  for (std::size_t at = 0; at + 4 <= extra.size();) {
    const std::uint16_t id = U16(extra, at), size = U16(extra, at + 2);
    if (at + 4 + size > extra.size()) break;
    if (id == 0x5455 && size >= 5 && (static_cast<std::uint8_t>(extra[at + 4]) & 1) != 0) {
      const platform::TFileTime when{static_cast<std::int32_t>(U32(extra, at + 5)), 0};
      if (const auto local = platform::UtcToLocal(when))
        Field("file last modified on (UT extra field modtime)", CalendarText(*local) + " local");
      Field("file last modified on (UT extra field modtime)", CalendarText(UtcCalendar(when.Seconds)) + " UTC");
      break;
    }
    at += 4 + size;
  }
}

void TZipInfoReport::AttributeLines(const TZipHeaderInfo& entry) {
  const unsigned host = entry.VersionMadeBy >> 8;
  const bool dosHost = host == 0 || host == 4 || host == 6 || host == 11 || host == 13 || host == 14 || host == 15;
  char text[64];
  if (dosHost) {
    std::snprintf(text, sizeof text, "%06X hex", static_cast<unsigned>(entry.ExternalAttributes >> 8));
    Field("non-MSDOS external file attributes", text);
  } else {
    const std::uint32_t mode = entry.ExternalAttributes >> 16;
    const char* system = host == 1 ? "Amiga" : host == 2 ? "VMS" : "Unix";
    std::snprintf(text, sizeof text, "%s file attributes (%06o octal)", system, static_cast<unsigned>(mode));
    std::string value = host == 1   ? AmigaProtection(mode)
                        : host == 2 ? VmsProtection(mode, true)
                                    : PermissionString(entry);
    // The report marks a set-group bit without the group's execute as locking.
    if (host != 1 && host != 2 && (mode & 02010) == 02000 && value.size() == 10) value[6] = 'l';
    Field(text, value);
  }
  const auto dos = static_cast<std::uint8_t>(entry.ExternalAttributes & 0xFF);
  std::snprintf(text, sizeof text, "MS-DOS file attributes (%02X hex)", static_cast<unsigned>(dos));
  Field(text, DosAttributeWords(dos));
}

void TZipInfoReport::ExtraFieldLines(const std::string& extra) {
  if (extra.empty()) return;
  Line("  The central-directory extra field contains:");
  for (std::size_t at = 0; at + 4 <= extra.size();) {
    const std::uint16_t id = U16(extra, at);
    const std::size_t size = std::min<std::size_t>(U16(extra, at + 2), extra.size() - at - 4);
    const std::string data = extra.substr(at + 4, size);
    at += 4 + size;
    char head[96];
    std::snprintf(head, sizeof head, "  - A subfield with ID 0x%04x (%s) and %llu data bytes",
                  static_cast<unsigned>(id), ExtraFieldName(id), static_cast<unsigned long long>(size));
    if (id == 0x5455) {
      Line(std::string(head) + ".");
      Line("    The local extra field has UTC/GMT " + TimesHeld(data.empty() ? 0 : static_cast<std::uint8_t>(data[0])) +
           ".");
    } else if (id == 0x7075 && size >= 5) {
      Line(std::string(head) + ".");
      char crc[80];
      std::snprintf(crc, sizeof crc, "    The UTF8 data of the extra field (V%u, ASCII name CRC `%08x') are:",
                    static_cast<unsigned>(static_cast<std::uint8_t>(data[0])), static_cast<unsigned>(U32(data, 1)));
      Line(crc);
      Line("    " + HexBytes(data.substr(5)) + ".");
    } else if (size == 0) {
      Line(std::string(head) + ".");
    } else if (size > 20) {
      Line(std::string(head) + ".  The first");
      Line("    20 are:   " + HexBytes(data.substr(0, 20)) + ".");
    } else {
      Line(std::string(head) + ":");
      Line("    " + HexBytes(data) + ".");
    }
  }
  Line("");
}

void TZipInfoReport::CommentLines(const std::string& comment) {
  if (comment.empty()) {
    Line("  There is no file comment.");
  } else {
    Line("------------------------- file comment begins ----------------------------");
    Line(TerminalText(comment, true));
    Line("-------------------------- file comment ends -----------------------------");
  }
  Line("");
}

std::string TZipInfoReport::CentralExtraField(const TZipHeaderInfo& entry) const {
  if (entry.CentralExtraLength == 0 || (entry.CentralHeaderOffset == 0 && entry.LocalHeaderOffset != 0)) return {};
  platform::TFile file = platform::TFile::Open(archive_, platform::TFileAccess::Read, platform::TFileShare::ReadWrite,
                                               platform::TFileCreation::OpenExisting);
  if (!file.IsOpen()) return {};
  const std::int64_t at = static_cast<std::int64_t>(entry.CentralHeaderOffset + 46 + entry.RawName().size());
  std::string extra(entry.CentralExtraLength, '\0');
  if (file.Seek(at, platform::TSeekOrigin::Begin) != at) return {};
  const std::int64_t got = file.Read(extra.data(), extra.size());
  extra.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return extra;
}

}  // namespace kestrel::tool

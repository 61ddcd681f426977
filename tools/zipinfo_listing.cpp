#include "tools/zipinfo_listing.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>

#include "tools/terminal_text.h"
#include "tools/unzip_listing.h"
#include "tools/zipinfo_report.h"

namespace kestrel::tool {
namespace {

struct THostNames {
  const char* Abbreviation;
  const char* Name;
};

// The host systems by number (the high byte of "version made by"). 20 to 29
// have no name, and zipinfo's report shows them as "(null)".
constexpr std::array<THostNames, 31> Hosts = {{
    {"fat", "MS-DOS, OS/2 or NT FAT"},
    {"ami", "Amiga"},
    {"vms", "VMS"},
    {"unx", "Unix"},
    {"cms", "VM/CMS"},
    {"atr", "Atari ST"},
    {"hpf", "OS/2 or NT HPFS"},
    {"mac", "Macintosh HFS"},
    {"zzz", "Z-System"},
    {"cpm", "CP/M"},
    {"t20", "TOPS-20"},
    {"ntf", "NTFS"},
    {"qds", "SMS/QDOS"},
    {"aco", "Acorn RISC OS"},
    {"vft", "Win32 VFAT"},
    {"mvs", "MVS"},
    {"be", "BeOS"},
    {"nsk", "Tandem NSK"},
    {"ths", "Theos"},
    {"osx", "Mac OS/X (Darwin)"},
    {"???", "(null)"},
    {"???", "(null)"},
    {"???", "(null)"},
    {"???", "(null)"},
    {"???", "(null)"},
    {"???", "(null)"},
    {"???", "(null)"},
    {"???", "(null)"},
    {"???", "(null)"},
    {"???", "(null)"},
    {"ath", "AtheOS"},
}};

constexpr const char* Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The hosts whose attributes are MS-DOS's: FAT, VM/CMS, HPFS, NTFS, RISC OS,
// VFAT, MVS.
bool DosAttributesHost(unsigned host) {
  return host == 0 || host == 4 || host == 6 || host == 11 || host == 13 || host == 14 || host == 15;
}

// A program by its name's extension, as MS-DOS knows one.
bool ProgramName(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  std::string extension = name.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return extension == "exe" || extension == "com" || extension == "bat" || extension == "btm" || extension == "cmd";
}

std::string DosAttributesString(const TZipHeaderInfo& entry) {
  const std::uint32_t a = entry.ExternalAttributes & 0xFF;
  std::string text = (a & 0x08) != 0 ? "V" : (a & 0x10) != 0 ? "d" : "-";
  text += 'r';
  text += (a & 0x01) != 0 ? '-' : 'w';
  text += (a & 0x10) != 0 || ProgramName(entry.FileName()) ? 'x' : '-';
  text += (a & 0x20) != 0 ? 'a' : '-';
  text += (a & 0x02) != 0 ? 'h' : '-';
  text += (a & 0x04) != 0 ? 's' : '-';
  return text;
}

std::string UnixModeString(std::uint32_t mode) {
  std::string text = "?";
  switch (mode & 0170000) {
    case 0140000:
      text = "s";
      break;
    case 0120000:
      text = "l";
      break;
    case 0100000:
      text = "-";
      break;
    case 0060000:
      text = "b";
      break;
    case 0040000:
      text = "d";
      break;
    case 0020000:
      text = "c";
      break;
    case 0010000:
      text = "p";
      break;
    default:
      break;
  }
  // Owner, group, others; the set-user, set-group and sticky bits take the
  // place of the "x" they go with, upper case where that "x" is not set.
  const char special[3] = {'s', 's', 't'};
  for (int who = 0; who < 3; ++who) {
    const unsigned bits = (mode >> (6 - 3 * who)) & 7;
    text += (bits & 4) != 0 ? 'r' : '-';
    text += (bits & 2) != 0 ? 'w' : '-';
    const bool execute = (bits & 1) != 0;
    if ((mode & (04000u >> who)) != 0)
      text += execute ? special[who] : static_cast<char>(special[who] - 32);
    else
      text += execute ? 'x' : '-';
  }
  return text;
}

std::string Number(std::uint64_t value, int width) {
  char text[32];
  std::snprintf(text, sizeof text, "%*" PRIu64, width, value);
  return text;
}

std::string LeftPadded(std::string text, std::size_t width) {
  if (text.size() < width) text.resize(width, ' ');
  return text;
}

// The share saved, in tenths of a per cent rounded half away from zero; negative
// for a loss.
std::int64_t SavedTenths(std::uint64_t uncompressed, std::uint64_t compressed) {
  if (uncompressed == 0) return 0;
  const bool loss = compressed > uncompressed;
  const std::uint64_t difference = loss ? compressed - uncompressed : uncompressed - compressed;
  std::uint64_t tenths = 0;
  if (difference < UINT64_MAX / 2000)
    tenths = (difference * 1000 + uncompressed / 2) / uncompressed;
  else
    // A damaged size can make the loss far beyond any integer: it stops at 10^18.
    tenths =
        static_cast<std::uint64_t>(std::min(static_cast<long double>(difference) * 1000 / uncompressed + 0.5L, 1e18L));
  return loss ? -static_cast<std::int64_t>(tenths) : static_cast<std::int64_t>(tenths);
}

// The medium form's ratio: whole per cents, from the tenths plus a half
// rounded toward zero ("-199%" for three bytes from one).
std::string MediumRatio(std::uint64_t uncompressed, std::uint64_t compressed) {
  char text[32];
  std::snprintf(text, sizeof text, "%3" PRId64 "%%", (SavedTenths(uncompressed, compressed) + 5) / 10);
  return text;
}

// The totals' ratio, to a tenth: "90.6%", "-200.0%".
std::string TotalsRatio(std::uint64_t uncompressed, std::uint64_t compressed) {
  const std::int64_t tenths = SavedTenths(uncompressed, compressed);
  const std::uint64_t magnitude = static_cast<std::uint64_t>(tenths < 0 ? -tenths : tenths);
  char text[48];
  std::snprintf(text, sizeof text, "%s%" PRIu64 ".%" PRIu64 "%%", tenths < 0 ? "-" : "", magnitude / 10,
                magnitude % 10);
  return text;
}

std::string DateText(const platform::TCalendar& when, bool decimal) {
  char text[48];
  if (decimal) {
    std::snprintf(text, sizeof text, "%04d%02d%02d.%02d%02d%02d", when.Year, when.Month, when.Day, when.Hour,
                  when.Minute, when.Second);
  } else {
    const char* month = when.Month >= 1 && when.Month <= 12 ? Months[when.Month - 1] : "???";
    std::snprintf(text, sizeof text, "%02d-%s-%02d %02d:%02d", when.Year % 100, month, when.Day, when.Hour,
                  when.Minute);
  }
  return text;
}

}  // namespace

std::string HostAbbreviation(std::uint16_t versionMadeBy) {
  const unsigned host = versionMadeBy >> 8;
  return host < Hosts.size() ? Hosts[host].Abbreviation : "???";
}

std::string HostName(std::uint16_t versionMadeBy) {
  const unsigned host = versionMadeBy >> 8;
  return host < Hosts.size() ? Hosts[host].Name : "unknown (" + std::to_string(host) + ")";
}

std::string ZipVersionText(std::uint8_t version) {
  return std::to_string(version / 10) + "." + std::to_string(version % 10);
}

std::string MethodAbbreviation(std::uint16_t method, std::uint16_t flags) {
  static constexpr const char Levels[] = {'N', 'X', 'F', 'S'};
  switch (method) {
    case 0:
      return "stor";
    case 1:
      return "shrk";
    case 2:
    case 3:
    case 4:
    case 5:
      return "re:" + std::to_string(method - 1);
    case 6:
      return std::string((flags & 2) != 0 ? "i8:" : "i4:") + ((flags & 4) != 0 ? "3" : "2");
    case 7:
      return "tokn";
    case 8:
      return std::string("def") + Levels[(flags >> 1) & 3];
    case 9:
      return std::string("d64") + Levels[(flags >> 1) & 3];
    case 10:
      return "dcli";
    case 12:
      return "bzp2";
    case 14:
      return "lzma";
    case 18:
      return "ters";
    case 19:
      return "lz77";
    case 97:
      return "wavp";
    case 98:
      return "ppmd";
    default: {
      char text[16];
      std::snprintf(text, sizeof text, "u%03u", static_cast<unsigned>(method));
      return text;
    }
  }
}

std::string PermissionString(const TZipHeaderInfo& entry) {
  const unsigned host = entry.VersionMadeBy >> 8;
  // A FAT entry may carry a Unix mode in the high half (Unix zip ports on MS-DOS
  // write one): zipinfo shows it where it agrees with the MS-DOS attributes, the
  // owner's bits readable, read-only without the owner's write bit, and the
  // folder bit with the owner's execute bit, as such a port derives them.
  if (host == 0) {
    const std::uint32_t mode = entry.ExternalAttributes >> 16, dos = entry.ExternalAttributes & 0xFF;
    const bool readOnly = (dos & 0x01) != 0, folder = (dos & 0x10) != 0;
    if ((mode & 0400) != 0 && readOnly == ((mode & 0200) == 0) && folder == ((mode & 0100) != 0))
      return UnixModeString(mode);
  }
  if (DosAttributesHost(host)) return DosAttributesString(entry);
  if (host == 1) return AmigaProtection(entry.ExternalAttributes >> 16);
  if (host == 2) return VmsProtection(entry.ExternalAttributes >> 16, false);
  return UnixModeString(entry.ExternalAttributes >> 16);
}

std::string AmigaProtection(std::uint32_t mode) {
  const std::uint32_t type = mode & 06000;
  std::string text = type == 04000 ? "d" : type == 02000 ? "-" : "?";
  static constexpr char Letters[] = "hsparwed";
  for (int bit = 7; bit >= 0; --bit) text += (mode & (1u << bit)) != 0 ? Letters[7 - bit] : '-';
  return text;
}

std::string VmsProtection(std::uint32_t mode, bool withSystem) {
  // Read, write, execute, and delete with write.
  const auto group = [](unsigned bits) {
    std::string letters;
    if ((bits & 4) != 0) letters += 'R';
    if ((bits & 2) != 0) letters += 'W';
    if ((bits & 1) != 0) letters += 'E';
    if ((bits & 2) != 0) letters += 'D';
    return letters;
  };
  const std::string owner = group((mode >> 6) & 7);
  const std::string text = owner + "," + group((mode >> 3) & 7) + "," + group(mode & 7);
  return withSystem ? "(" + owner + "," + text + ")" : text;
}

bool OldUnixFieldAnnounced(const TZipHeaderInfo& entry) {
  // Only the systems whose zip ports wrote that field: FAT, Unix, OS/2 HPFS, NTFS.
  const unsigned host = entry.VersionMadeBy >> 8;
  return (entry.ExternalAttributes & 0x8000) != 0 && (host == 0 || host == 3 || host == 6 || host == 11);
}

std::string TypeLetters(const TZipHeaderInfo& entry) {
  std::string letters(1, (entry.InternalAttributes & 1) != 0 ? 't' : 'b');
  if (entry.Encrypted()) letters[0] = static_cast<char>(letters[0] - 32);
  // The old Info-ZIP Unix field counts as an extra field but on FAT, which may
  // have left it out.
  const bool announced = OldUnixFieldAnnounced(entry) && entry.VersionMadeBy >> 8 != 0;
  const bool extra = entry.CentralExtraLength != 0 || announced, descriptor = entry.HasDataDescriptor();
  letters += extra && descriptor ? 'X' : extra ? 'x' : descriptor ? 'l' : '-';
  return letters;
}

platform::TCalendar EntryLocalTime(const TZipHeaderInfo& entry) {
  if (entry.ModifiedTime)
    if (const auto local = platform::UtcToLocal(*entry.ModifiedTime)) return *local;
  const std::uint32_t dos = entry.DateTime;
  platform::TCalendar when;
  when.Year = 1980 + static_cast<int>(dos >> 25);
  when.Month = static_cast<int>((dos >> 21) & 0x0F);
  when.Day = static_cast<int>((dos >> 16) & 0x1F);
  when.Hour = static_cast<int>((dos >> 11) & 0x1F);
  when.Minute = static_cast<int>((dos >> 5) & 0x3F);
  when.Second = static_cast<int>((dos & 0x1F) * 2);
  return when;
}

std::uint64_t SizeWithoutEncryptionHeader(const TZipHeaderInfo& entry) {
  if (!entry.Encrypted()) return entry.CompressedSize;
  return entry.CompressedSize >= 12 ? entry.CompressedSize - 12 : 0;
}

TZipInfoListing::TZipInfoListing(const TZipInfoOptions& options, bool filtered) : options_(options) {
  switch (options.Format) {
    case TZipInfoFormat::NamesOnly:
      break;
    case TZipInfoFormat::Names:
      header_ = options.Header, totals_ = options.Totals, comment_ = options.Comment;
      break;
    case TZipInfoFormat::Default:
      // -h or -t alone asks for those lines instead of the entries.
      if (options.Header || options.Totals) {
        header_ = options.Header, totals_ = options.Totals, entries_ = filtered;
      } else {
        header_ = totals_ = !filtered;
      }
      comment_ = options.Comment;
      break;
    default:
      header_ = !filtered || options.Header, totals_ = !filtered || options.Totals, comment_ = options.Comment;
      break;
  }
}

void TZipInfoListing::Line(const std::string& line) {
  text_ += line;
  text_ += platform::ConsoleLineEnding();
}

std::string TZipInfoListing::ArchiveLine(const std::string& archive) { return TListing::ArchiveLine(archive); }

void TZipInfoListing::Begin(const TZipInfoArchive& archive) {
  if (comment_ && !archive.Comment.empty()) Line(TerminalText(archive.Comment, true));
  if (header_)
    Line("Zip file size: " + std::to_string(archive.FileSize) +
         " bytes, number of entries: " + std::to_string(archive.Entries));
}

void TZipInfoListing::Empty() { Line("Empty zipfile."); }

std::string TZipInfoListing::EntryLine(const TZipHeaderInfo& entry) const {
  const std::string permissions = PermissionString(entry);
  const std::string version = ZipVersionText(static_cast<std::uint8_t>(entry.VersionMadeBy & 0xFF));
  std::string line(10, ' ');
  line.append(version.size() < 4 ? "  " : " ").append(version).append(" ");
  // A longer permission string (VMS's) lies over the version, as zipinfo's does.
  if (permissions.size() > 10)
    line = permissions + " " + line.substr(std::min(line.size(), permissions.size() + 1));
  else
    line.replace(0, permissions.size(), permissions);
  line.append(LeftPadded(HostAbbreviation(entry.VersionMadeBy), 3))
      .append(" ")
      .append(Number(entry.UncompressedSize, 8))
      .append(" ")
      .append(TypeLetters(entry));
  if (options_.Format == TZipInfoFormat::Medium)
    line += MediumRatio(entry.UncompressedSize, SizeWithoutEncryptionHeader(entry));
  else if (options_.Format == TZipInfoFormat::Long)
    line += " " + Number(entry.CompressedSize, 8);
  return line + " " + MethodAbbreviation(entry.CompressionMethod, entry.Flags) + " " +
         DateText(EntryLocalTime(entry), options_.DecimalTimes) + " " + ListedPath(entry);
}

void TZipInfoListing::Entry(const TZipHeaderInfo& entry) {
  ++count_;
  uncompressed_ += entry.UncompressedSize;
  compressed_ += SizeWithoutEncryptionHeader(entry);
  if (!entries_) return;
  const bool namesOnly = options_.Format == TZipInfoFormat::NamesOnly || options_.Format == TZipInfoFormat::Names;
  Line(namesOnly ? ListedPath(entry) : EntryLine(entry));
}

void TZipInfoListing::End() {
  if (!totals_) return;
  Line(Plural(count_, "file") + ", " + std::to_string(uncompressed_) + " bytes uncompressed, " +
       std::to_string(compressed_) + " bytes compressed:  " + TotalsRatio(uncompressed_, compressed_));
}

TZipInfoRun::TZipInfoRun(const TToolCommand& command, const std::string& archive, bool filtered)
    : command_(command), archive_(archive), listing_(command.ZipInfo, filtered) {
  if (listing_.ShowsArchiveLine() || command.ZipInfo.Format == TZipInfoFormat::Verbose)
    platform::WriteConsoleLine(platform::TConsoleStream::Output, TZipInfoListing::ArchiveLine(archive));
}

TZipInfoArchive TZipInfoRun::Archive(TKestrelUnZip& unzip) const {
  TZipInfoArchive archive;
  archive.Name = archive_;
  const TEndCentral& end = unzip.EndCentral();
  archive.FileSize = end.CommentPos + end.CommentLength;
  platform::TFile file = platform::TFile::Open(archive_, platform::TFileAccess::Read, platform::TFileShare::ReadWrite,
                                               platform::TFileCreation::OpenExisting);
  if (file.IsOpen() && file.Size() >= 0) archive.FileSize = static_cast<std::uint64_t>(file.Size());
  // From standard input: the bytes read, which the listing reads to the end.
  if (TStream* input = unzip.InputStream()) archive.FileSize = static_cast<std::uint64_t>(input->Position());
  archive.Entries = static_cast<std::uint64_t>(unzip.EntryCount());
  archive.Comment = unzip.ZipComment();
  archive.PrependedBytes = static_cast<std::uint64_t>(std::max<std::int64_t>(unzip.PrependedBytes(), 0));
  return archive;
}

int TZipInfoRun::ListEmpty(TKestrelUnZip& unzip) {
  if (command_.ZipInfo.Format == TZipInfoFormat::Verbose) {
    TZipInfoReport report(archive_);
    report.Begin(Archive(unzip), unzip.EndCentral());
    report.Empty();
    platform::WriteConsoleText(platform::TConsoleStream::Output, report.Text());
  } else {
    listing_.Begin(Archive(unzip));
    listing_.Empty();
    platform::WriteConsoleText(platform::TConsoleStream::Output, listing_.Text());
  }
  return 1;
}

void TZipInfoRun::List(TKestrelUnZip& unzip, const std::vector<bool>& selected) {
  const TSortedZip& entries = *unzip.ZipInfo();
  const bool verbose = command_.ZipInfo.Format == TZipInfoFormat::Verbose;
  std::optional<TZipInfoReport> report;
  if (verbose) {
    report.emplace(archive_);
    report->Begin(Archive(unzip), unzip.EndCentral());
  } else {
    listing_.Begin(Archive(unzip));
  }
  // The report numbers the entries in the order of the central directory.
  std::vector<std::uint64_t> offsets;
  for (std::int32_t i = 0; verbose && i < entries.Count(); ++i)
    offsets.push_back(entries.Items(i)->CentralHeaderOffset);
  std::sort(offsets.begin(), offsets.end());
  for (std::int32_t i = 0; i < entries.Count(); ++i) {
    const TZipHeaderInfo& entry = *entries.Items(i);
    if (!selected[static_cast<std::size_t>(i)] || entry.Nameless()) continue;
    const auto place = std::lower_bound(offsets.begin(), offsets.end(), entry.CentralHeaderOffset);
    if (report)
      report->Entry(entry, static_cast<std::uint64_t>(place - offsets.begin()) + 1, unzip.FileComment(i));
    else
      listing_.Entry(entry);
  }
  if (!verbose) listing_.End();
  platform::WriteConsoleText(platform::TConsoleStream::Output, verbose ? report->Text() : listing_.Text());
}

}  // namespace kestrel::tool

#include "tools/unzip_listing.h"

#include <cinttypes>
#include <cstdio>

#include "platform/code_page.h"
#include "platform/file_system.h"
#include "tools/terminal_text.h"
#include "unzip/decode/methods.h"
#include "unzip/dos_date_time.h"

namespace kestrel::tool {
namespace {

std::string Number(std::uint64_t value, int width) {
  char text[32];
  std::snprintf(text, sizeof text, "%*" PRIu64, width, value);
  return text;
}

std::string Padded(std::string text, std::size_t width, bool left) {
  if (text.size() >= width) return text;
  return left ? text + std::string(width - text.size(), ' ') : std::string(width - text.size(), ' ') + text;
}

// "YYYY-MM-DD HH:MM" of a DOS date-time.
std::string DateAndTime(std::uint32_t dos) {
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u", 1980 + (dos >> 25), (dos >> 21) & 0x0F,
                (dos >> 16) & 0x1F, (dos >> 11) & 0x1F, (dos >> 5) & 0x3F);
  return text;
}

std::string DateAndTime(const platform::TCalendar& when) {
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", when.Year, when.Month, when.Day, when.Hour, when.Minute);
  return text;
}

// The compressed size as unzip counts it: without the 12 bytes of an encryption header.
std::uint64_t ListedCompressedSize(const TZipHeaderInfo& entry) {
  if (!entry.Encrypted()) return entry.CompressedSize;
  return entry.CompressedSize >= 12 ? entry.CompressedSize - 12 : 0;
}

}  // namespace

std::string CompressionRatio(std::uint64_t uncompressed, std::uint64_t compressed) {
  if (uncompressed == 0) return "0%";
  // The share saved in tenths of a per cent, rounded half away from zero; past 2
  // million bytes in steps of a thousandth of the size, so nothing overflows.
  const bool loss = compressed > uncompressed;
  const std::uint64_t difference = loss ? compressed - uncompressed : uncompressed - compressed;
  std::uint64_t tenths = 0;
  if (uncompressed > 2000000) {
    const std::uint64_t step = uncompressed / 1000;
    tenths = (difference + step / 2) / step;
  } else {
    tenths = (difference * 1000 + uncompressed / 2) / uncompressed;
  }
  const std::uint64_t percent = (tenths + 5) / 10;
  if (percent == 100) return "100%";
  // A loss shows its sign once it reaches a tenth of a per cent, even when the
  // per cents round to 0.
  std::string ratio = loss && tenths > 0 ? "-" : "";
  return ratio.append(std::to_string(percent)).append("%");
}

std::string ListedPath(const TZipHeaderInfo& entry) {
  std::string path = entry.StoredPath();
  for (char& c : path)
    if (c == '\\') c = '/';
  return TerminalText(path);
}

std::string CrcText(std::uint32_t crc) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(crc));
  return text;
}

std::string Plural(std::uint64_t count, const char* noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string CommentLines(const std::string& comment) {
  std::string shown = TerminalText(comment, true);
  std::string lines;
  for (std::size_t at = 0; at < shown.size(); ++at)
    if (shown[at] != '\r' || at + 1 >= shown.size() || shown[at + 1] != '\n') lines += shown[at];
  // The line end of the last line is the caller's.
  if (!lines.empty() && lines.back() == '\n') lines.pop_back();
  return lines;
}

void TListing::Line(const std::string& line) {
  text_ += line;
  text_ += platform::ConsoleLineEnding();
}

std::string TListing::ArchiveLine(const std::string& archive) { return "Archive:  " + TerminalText(archive); }

void TListing::Begin(const std::string& comment) {
  if (kind_ == TListingKind::NamesOnly) return;
  if (quiet_ == 0 && !comment.empty()) Line(CommentLines(comment));
  if (quiet_ >= 2) return;
  const bool cased = nameCase_ != ncAsStored;
  if (kind_ == TListingKind::Short) {
    Line(std::string("  Length      Date    Time    Name") + (cased ? " (\"^\" ==> case" : ""));
    Line(std::string("---------  ---------- -----   ----") + (cased ? "   conversion)" : ""));
  } else {
    Line(std::string(" Length   Method    Size  Cmpr    Date    Time   CRC-32   Name") +
         (cased ? " (\"^\" ==> case" : ""));
    Line(std::string("--------  ------  ------- ---- ---------- ----- --------  ----") +
         (cased ? "   conversion)" : ""));
  }
}

void TListing::Entry(const TZipHeaderInfo& entry, const std::string& comment) {
  ++entries_;
  uncompressed_ += entry.UncompressedSize;
  compressed_ += ListedCompressedSize(entry);
  std::string path = ListedPath(entry);
  // -L: the mark takes the place of the last space before the name, and goes
  // with the rule, whether or not the name had capitals.
  char mark = ' ';
  if (nameCase_ == ncAll || (nameCase_ == ncUpperCaseHosts && entry.MadeUpperCaseOnly())) {
    path = platform::AnsiLowerCase(path);
    mark = '^';
  }
  if (kind_ == TListingKind::NamesOnly) {
    Line(path);
    return;
  }
  // The exact time, where the entry has one, in this system's local time: what
  // extraction gives the file.
  // Before 1980 and after 2107 as well, where a DOS time has no room for it.
  std::string when = DateAndTime(entry.DateTime);
  if (entry.ModifiedTime)
    if (const auto local = platform::UtcToLocal(*entry.ModifiedTime)) when = DateAndTime(*local);
  if (kind_ == TListingKind::Short) {
    Line(Number(entry.UncompressedSize, 9) + "  " + when + "  " + mark + path);
  } else {
    const std::uint64_t compressed = ListedCompressedSize(entry);
    Line(Number(entry.UncompressedSize, 8) + "  " + Padded(MethodLabel(entry.CompressionMethod, entry.Flags), 7, true) +
         Number(compressed, 8) + " " + Padded(CompressionRatio(entry.UncompressedSize, compressed), 4, false) + " " +
         when + " " + CrcText(entry.CRC32) + " " + mark + path);
  }
  if (quiet_ == 0 && !comment.empty()) Line(TerminalText(comment, true));
}

void TListing::End() {
  if (kind_ == TListingKind::NamesOnly || quiet_ >= 2) return;
  if (kind_ == TListingKind::Short) {
    Line("---------                     -------");
    Line(Number(uncompressed_, 9) + "                     " + Plural(entries_, "file"));
  } else {
    Line("--------          -------  ---                            -------");
    Line(Number(uncompressed_, 8) + "         " + Number(compressed_, 8) + " " +
         Padded(CompressionRatio(uncompressed_, compressed_), 4, false) + "                            " +
         Plural(entries_, "file"));
  }
}

}  // namespace kestrel::tool

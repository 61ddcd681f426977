// kestrel-unzip's listings of arbitrary bytes: the directory loaded as the tool
// loads it, then every entry and comment laid out as -l, -v and -Z1 lay them out,
// and as zipinfo mode's long, medium and verbose forms (the last reads the
// extra fields again from the file);
// and the input itself as a name, escaped and cut for the progress line. Besides
// never crashing or hanging: what would reach the terminal holds no control
// character but its line ends, and a cut name fits the columns it was cut to. The
// lines of --json are each one line of valid UTF-8 without a control character.

#include "tools/unzip_listing.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "platform/utf8.h"
#include "tools/json_listing.h"
#include "tools/terminal_text.h"
#include "tools/zipinfo_listing.h"
#include "tools/zipinfo_report.h"
#include "unzip/kestrel_unzip.h"

namespace {

// Aborts on a C0 control (a line end passes where lineEnds allows it), DEL, or a
// C1 control spelled in UTF-8: each would act on the terminal instead of showing.
void ExpectShowable(std::string_view text, bool lineEnds) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const unsigned char next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (lineEnds && (c == '\n' || (c == '\r' && next == '\n'))) continue;
    if (c < 0x20 || c == 0x7F || (c == 0xC2 && next >= 0x80 && next <= 0x9F)) std::abort();
  }
}

// A line of --json: valid UTF-8, its controls escaped, the line end too.
void ExpectJsonLine(std::string_view line) {
  if (!platform::IsUtf8(line)) std::abort();
  ExpectShowable(line, false);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kestrel::tool;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  ExpectShowable(TerminalText(bytes), false);
  ExpectShowable(TerminalText(bytes, true), true);
  ExpectJsonLine(JsonString(bytes));
  const std::size_t columns = size > 0 ? data[0] % 100 : 0;
  if (DisplayWidth(FitToWidth(bytes, columns)) > columns) std::abort();

  const std::string& work = fuzzsupport::WorkFolder("kestrel-fuzz-listing-");
  if (work.empty() || !fuzzsupport::WriteInput(work + "input.zip", data, size)) return 0;
  kestrel::TKestrelUnZip unzip;
  unzip.SetIncompleteZipMode(kestrel::izAssumeNotAZip);
  try {
    unzip.SetZipName(work + "input.zip");
    unzip.LoadZipDirectory();
    const kestrel::TSortedZip* entries = unzip.ZipInfo();
    for (const TListingKind kind : {TListingKind::Short, TListingKind::Verbose, TListingKind::NamesOnly}) {
      TListing listing(kind, 0);
      listing.Begin(unzip.ZipComment());
      for (std::int32_t i = 0; entries != nullptr && i < entries->Count(); ++i)
        listing.Entry(*entries->Items(i), kind == TListingKind::NamesOnly ? std::string() : unzip.FileComment(i));
      listing.End();
      ExpectShowable(listing.Text(), true);
    }
    TZipInfoArchive archive;
    archive.Comment = unzip.ZipComment();
    for (const TZipInfoFormat format : {TZipInfoFormat::Long, TZipInfoFormat::Medium}) {
      TZipInfoListing listing({.Format = format, .Comment = true, .DecimalTimes = format == TZipInfoFormat::Medium},
                              false);
      listing.Begin(archive);
      for (std::int32_t i = 0; entries != nullptr && i < entries->Count(); ++i) listing.Entry(*entries->Items(i));
      listing.End();
      ExpectShowable(listing.Text(), true);
    }
    TZipInfoReport report(work + "input.zip");
    report.Begin(archive, unzip.EndCentral());
    for (std::int32_t i = 0; entries != nullptr && i < entries->Count(); ++i)
      report.Entry(*entries->Items(i), static_cast<std::uint64_t>(i) + 1, unzip.FileComment(i));
    ExpectShowable(report.Text(), true);
    for (std::int32_t i = 0; entries != nullptr && i < entries->Count(); ++i)
      ExpectJsonLine(JsonEntryLine(*entries->Items(i),
                                   {std::string(bytes.substr(0, 8)), unzip.FileComment(i),
                                    entries->Items(i)->IsSymbolicLink() ? unzip.LinkTarget(i) : std::nullopt}));
  } catch (const std::exception&) {
    // Not an archive, or a damaged one: the tool says so in a line of its own.
  }
  platform::RemoveFile(work + "input.zip");
  return 0;
}

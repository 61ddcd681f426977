// Loads the directory of arbitrary bytes under each IncompleteZipMode, as the
// converter and kestrel-unzip do, and reads every entry's comment and the archive
// comment. Any outcome but a crash, a hang or a huge allocation is fine.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "fuzz/fuzz_support.h"
#include "unzip/kestrel_unzip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& work = fuzzsupport::WorkFolder("kestrel-fuzz-zip-");
  if (work.empty()) return 0;
  // Some inputs go in as self-extractors, whose search starts at 14,000.
  const std::string name = work + (size > 0 && (data[0] & 1) != 0 ? "input.exe" : "input.zip");
  if (!fuzzsupport::WriteInput(name, data, size)) return 0;

  for (kestrel::TIncompleteZipMode mode : {kestrel::izAssumeMulti, kestrel::izAssumeBad, kestrel::izAssumeNotAZip}) {
    kestrel::TKestrelUnZip unzip;
    unzip.SetIncompleteZipMode(mode);
    unzip.SetSortMode(static_cast<kestrel::TZipSortMode>(size % 8));
    try {
      unzip.SetZipName(name);
      unzip.LoadZipDirectory();
      unzip.OpenZip();
      if (const kestrel::TSortedZip* entries = unzip.ZipInfo()) {
        for (std::int32_t i = 0; i < entries->Count(); ++i) unzip.FileComment(i);
      }
      unzip.ZipComment();
      unzip.CloseZip();
    } catch (const std::exception&) {
    }
  }
  platform::RemoveFile(name);
  return 0;
}

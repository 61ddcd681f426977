// unzip_events: lists a zip archive and extracts it with the zip component
// TKestrelUnZip, following the extraction through the component's events.
//
//   unzip_events ARCHIVE            lists the entries: size and stored path
//   unzip_events ARCHIVE DESTDIR    lists them, then extracts every entry below DESTDIR
//
// Exit status: 0 done, 1 an entry was skipped or failed its CRC check, 2 the
// archive could not be read, 3 usage.

#include <cstdint>
#include <cstdio>
#include <string>

#include "unzip/kestrel_unzip.h"

namespace {

/// The stored path with "/" between folders (the component keeps "\").
std::string SlashPath(const kestrel::TZipHeaderInfo& entry) {
  std::string path = entry.StoredPath();
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

std::string EntryPath(const kestrel::TKestrelUnZip& unzip, std::int32_t index) {
  return SlashPath(*unzip.ZipInfo()->Items(index));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: unzip_events ARCHIVE [DESTDIR]\n");
    return 3;
  }
  kestrel::TKestrelUnZip unzip;
  // A file without an end-of-central-directory record is no archive here, not one
  // volume of a set.
  unzip.SetIncompleteZipMode(kestrel::izAssumeNotAZip);
  unzip.SetZipName(argv[1]);

  bool entryFailed = false;
  unzip.OnStartUnZipInfo = [](kestrel::TKestrelUnZip&, std::int32_t files, std::int64_t bytes, bool&) {
    std::printf("extracting %d entries, %lld bytes\n", static_cast<int>(files), static_cast<long long>(bytes));
  };
  unzip.OnEndUnZip = [](kestrel::TKestrelUnZip& sender, std::int32_t index, const std::string&) {
    std::printf("extracted %s\n", EntryPath(sender, index).c_str());
  };
  unzip.OnSkippingFile = [&](kestrel::TKestrelUnZip& sender, kestrel::TSkipReason reason, const std::string&,
                             std::int32_t index, bool&) {
    entryFailed = true;
    const char* why = reason == kestrel::skBadPassword       ? "wrong password"
                      : reason == kestrel::skFileExists      ? "file exists"
                      : reason == kestrel::skPathClimbs      ? "its path climbs out of the destination"
                      : reason == kestrel::skPathThroughLink ? "its path leads through a symbolic link"
                      : reason == kestrel::skOverlaps        ? "its data overlaps another entry's"
                      : reason == kestrel::skCutShort        ? "the archive ends inside it"
                                                             : "cannot create the file";
    std::printf("skipped (%s): %s\n", why, EntryPath(sender, index).c_str());
  };
  unzip.OnBadCRC = [&](kestrel::TKestrelUnZip& sender, std::uint32_t computed, std::uint32_t stored,
                       std::int32_t index) {
    entryFailed = true;
    std::printf("CRC error (computed %08x, stored %08x): %s\n", static_cast<unsigned>(computed),
                static_cast<unsigned>(stored), EntryPath(sender, index).c_str());
  };
  unzip.OnUnZipComplete = [](kestrel::TKestrelUnZip&, std::int32_t count) {
    std::printf("%d entries done\n", static_cast<int>(count));
  };

  try {
    unzip.LoadZipDirectory();
    if (const kestrel::TSortedZip* entries = unzip.ZipInfo()) {
      for (std::int32_t i = 0; i < entries->Count(); ++i) {
        const kestrel::TZipHeaderInfo& entry = *entries->Items(i);
        std::printf("%10llu  %s\n", static_cast<unsigned long long>(entry.UncompressedSize), SlashPath(entry).c_str());
      }
    }
    if (argc == 3) {
      unzip.SetDestDir(argv[2]);
      unzip.SetRecreateDirs(true);
      unzip.SetOverwriteMode(kestrel::TUZOverwriteMode::Always);
      unzip.SetDoAll(true);
      unzip.UnZip();
    }
  } catch (const kestrel::Exception& failure) {
    // ENotAZipFile, EBadZipFile, ECantWriteUCF ... each carries its message.
    std::fprintf(stderr, "unzip_events: %s: %s\n", argv[1], failure.what());
    return 2;
  }
  return entryFailed ? 1 : 0;
}

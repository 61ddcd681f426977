// The two doors of the component over the same bytes: the archive as a file
// (UnZip of ZipName, its central directory read from the end) and as a pipe
// (InputStream, its entries taken by their local headers as they arrive). Where
// both accept the archive, both must make the same files with the same bytes
// under the same names, and give each entry the same outcome.
//
// Both accept it when neither UnZip raises, the file door read the central
// directory the end record names (not rebuilt from the local headers), and the
// pipe door saw that directory confirm every entry it read, with nothing passed
// over between entries (StreamCheck: DirectorySeen, no Disagreements).
//
// What may differ, and is left out of the comparison:
// - an entry whose sizes follow its data and that is not deflated: the pipe door
//   cannot tell where it ends and skips it (skStreamedSize), the file door knows
//   its size from the directory. An input with such a skip is not compared.
// - a symbolic link that a pipe door writes first as a file and takes back when
//   the directory shows its mode: its OnEndUnZip comes before the refusal, so an
//   entry's outcome is the last event it had.
// Mutations mostly make the two headers of an entry disagree, which a pipe cannot
// accept; so an input of odd size first has every central header take its local
// header's fields from "version needed" through the sizes (where the local header
// does not leave them to a data descriptor), and the doors meet far more often.
// Inputs are at most 32 KiB, and a door stops (EUserCanceled, not compared) after
// 4 MiB of output, so that a run stays short.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>

#include "fuzz/fuzz_support.h"
#include "unzip/kestrel_unzip.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t MaxInput = 32 * 1024;
constexpr std::int64_t MaxOutput = 4 * 1024 * 1024;

/// What one door did: the last event of each entry (by its local header's
/// offset), and whether the archive as a whole was accepted.
struct TDoorRun {
  std::map<std::uint64_t, std::string> Outcomes;
  bool Accepted = false;
  bool StreamedSizeSkipped = false;
};

std::uint32_t U32(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint8_t>(bytes[at]) | static_cast<std::uint8_t>(bytes[at + 1]) << 8 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 2])) << 16 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + 3])) << 24;
}
std::uint16_t U16(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[at]) | static_cast<std::uint8_t>(bytes[at + 1])
                                                                               << 8);
}

/// Copies each local header's fields from "version needed" through the sizes into
/// the central header that points at it, where the local header holds them.
void Harmonize(std::string& bytes) {
  const std::size_t end = bytes.rfind("PK\x05\x06");
  if (end == std::string::npos || bytes.size() - end < 22) return;
  std::size_t at = U32(bytes, end + 16);
  for (std::uint32_t i = U16(bytes, end + 10); i > 0 && at + 46 <= bytes.size() && U32(bytes, at) == 0x02014b50; --i) {
    const std::size_t local = U32(bytes, at + 42);
    if (local + 30 <= bytes.size() && U32(bytes, local) == 0x04034b50 && (U16(bytes, local + 6) & 8) == 0)
      bytes.replace(at + 6, 22, bytes, local + 4, 22);
    at += 46 + std::size_t{U16(bytes, at + 28)} + U16(bytes, at + 30) + U16(bytes, at + 32);
  }
}

void Listen(kestrel::TKestrelUnZip& unzip, TDoorRun& run) {
  auto note = [&run](kestrel::TKestrelUnZip& sender, std::int32_t index, const std::string& what) {
    run.Outcomes[sender.ZipInfo()->Items(index)->LocalHeaderOffset] = what;
  };
  unzip.OnEndUnZip = [note](kestrel::TKestrelUnZip& sender, std::int32_t index, const std::string&) {
    note(sender, index, "done");
  };
  unzip.OnSkippingFile = [note, &run](kestrel::TKestrelUnZip& sender, kestrel::TSkipReason reason, const std::string&,
                                      std::int32_t index, bool&) {
    if (reason == kestrel::skStreamedSize) run.StreamedSizeSkipped = true;
    note(sender, index, "skipped " + std::to_string(static_cast<int>(reason)));
  };
  unzip.OnBadCRC = [note](kestrel::TKestrelUnZip& sender, std::uint32_t, std::uint32_t, std::int32_t index) {
    note(sender, index, "bad CRC");
  };
  unzip.OnTotalPercentDone = [](kestrel::TKestrelUnZip& sender, std::int32_t) {
    if (sender.BtsDone() > MaxOutput) sender.CancelRequested = true;
  };
  unzip.OnGetNextDisk = [](kestrel::TKestrelUnZip&, std::int32_t, std::string& name) { name.clear(); };
  unzip.SetDoAll(true);
  unzip.SetRecreateDirs(true);
  unzip.SetOverwriteMode(kestrel::TUZOverwriteMode::Always);
  unzip.SetPassword("password");
}

/// Every name below a folder with what it is: a file's bytes, a link's target.
std::map<std::string, std::string> Tree(const std::string& folder) {
  std::map<std::string, std::string> tree;
  std::error_code error;
  for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const fs::path& path = it->path();
    const std::string name = fs::relative(path, folder, error).string();
    if (it->is_symlink(error)) {
      tree[name] = "link " + fs::read_symlink(path, error).string();
    } else if (it->is_regular_file(error)) {
      std::string bytes;
      if (FILE* file = std::fopen(path.c_str(), "rb")) {
        char block[4096];
        for (std::size_t got; (got = std::fread(block, 1, sizeof block, file)) > 0;) bytes.append(block, got);
        std::fclose(file);
      }
      tree[name] = "file " + bytes;
    } else {
      tree[name] = "folder";
    }
  }
  return tree;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
  if (size > MaxInput) return 0;
  std::string bytes(reinterpret_cast<const char*>(input), size);
  if (size % 2 == 1) Harmonize(bytes);
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const std::string& work = fuzzsupport::WorkFolder("kestrel-fuzz-doors-");
  if (work.empty()) return 0;
  const std::string archive = work + "input.zip";
  const std::string fileDest = work + "file", pipeDest = work + "pipe";
  std::error_code error;
  fs::remove_all(fileDest, error);
  fs::remove_all(pipeDest, error);
  if (!fuzzsupport::WriteInput(archive, data, size)) return 0;

  TDoorRun fileRun, pipeRun;
  {
    kestrel::TKestrelUnZip unzip;
    Listen(unzip, fileRun);
    unzip.SetIncompleteZipMode(kestrel::izAssumeNotAZip);
    unzip.SetDestDir(fileDest);
    try {
      unzip.SetZipName(archive);
      unzip.UnZip();
      fileRun.Accepted = !unzip.Rebuilt() && unzip.EndCentral().ThisDisk == 0;
    } catch (const kestrel::Exception&) {
    }
  }
  if (fileRun.Accepted) {
    fuzzsupport::TPipe pipe(data, size);
    kestrel::TKestrelUnZip unzip;
    Listen(unzip, pipeRun);
    unzip.SetInputStream(&pipe);
    unzip.SetDestDir(pipeDest);
    try {
      unzip.UnZip();
      pipeRun.Accepted = unzip.StreamCheck().DirectorySeen && unzip.StreamCheck().Disagreements == 0;
    } catch (const kestrel::Exception&) {
    }
  }
  if (fileRun.Accepted && pipeRun.Accepted && !pipeRun.StreamedSizeSkipped) {
    // From a stream a link is known as one only at the central directory, after
    // its data was judged: where a file's reading refuses its target (too long for
    // a path) before decoding it, the stream's may have found it damaged first.
    // Either way nothing is made of it.
    for (const auto& [offset, what] : fileRun.Outcomes)
      if (what == "skipped 9" && pipeRun.Outcomes[offset] == "bad CRC") pipeRun.Outcomes[offset] = what;
    if (fileRun.Outcomes != pipeRun.Outcomes) std::abort();
    if (Tree(fileDest) != Tree(pipeDest)) std::abort();
  }
  fs::remove_all(fileDest, error);
  fs::remove_all(pipeDest, error);
  return 0;
}

// Extracts the same archive bytes twice, with one thread and with three (workers
// decoding entries ahead of their turn), and aborts when the two runs differ in
// anything a caller sees: the events in their order with their arguments, the
// counts, how the run ended, and the tree left in the destination (names, kinds,
// bytes, link targets). The workers may only make the run faster.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <system_error>

#include "fuzz/fuzz_support.h"
#include "unzip/kestrel_unzip.h"

namespace {

namespace fs = std::filesystem;

/// What one extraction showed: its events as lines, its end, and its tree.
struct TRunTrace {
  std::string Events;
  std::map<std::string, std::string> Tree;
};

/// The destination's contents by relative path: "D" for a folder, "L" and the
/// target for a link, "F" and the bytes for a file.
std::map<std::string, std::string> TreeOf(const fs::path& dest) {
  std::map<std::string, std::string> tree;
  std::error_code error;
  for (fs::recursive_directory_iterator it(dest, error), end; !error && it != end; it.increment(error)) {
    const fs::path relative = it->path().lexically_relative(dest);
    if (it->is_symlink(error)) {
      tree[relative.string()] = "L" + fs::read_symlink(it->path(), error).string();
    } else if (it->is_directory(error)) {
      tree[relative.string()] = "D";
    } else {
      std::ifstream file(it->path(), std::ios::binary);
      tree[relative.string()] = "F" + std::string(std::istreambuf_iterator<char>(file), {});
    }
  }
  return tree;
}

/// A path the component reports, without the destination that differs per run.
std::string Relative(const std::string& name, const std::string& dest) {
  return name.starts_with(dest) ? name.substr(dest.size()) : name;
}

TRunTrace Extract(const std::string& archive, const std::string& dest, std::int32_t threads, std::uint8_t mode) {
  TRunTrace trace;
  std::string& events = trace.Events;
  {
    kestrel::TKestrelUnZip unzip;
    unzip.SetIncompleteZipMode(static_cast<kestrel::TIncompleteZipMode>(mode % 3));
    unzip.SetDoAll(true);
    unzip.SetRecreateDirs(true);
    unzip.SetOverwriteMode(kestrel::TUZOverwriteMode::Always);
    unzip.SetDestDir(dest);
    unzip.SetThreads(threads);
    if ((mode & 4) != 0) unzip.SetPassword("fuzz");
    unzip.OnGetNextDisk = [](kestrel::TKestrelUnZip&, std::int32_t, std::string& name) { name.clear(); };
    unzip.OnStartUnZipInfo = [&](kestrel::TKestrelUnZip&, std::int32_t files, std::int64_t bytes, bool&) {
      events += "info " + std::to_string(files) + " " + std::to_string(bytes) + "\n";
    };
    unzip.OnStartUnZip = [&](kestrel::TKestrelUnZip&, std::int32_t index, std::string& name, bool&) {
      events += "start " + std::to_string(index) + " " + Relative(name, dest) + "\n";
    };
    unzip.OnEndUnZip = [&](kestrel::TKestrelUnZip&, std::int32_t index, const std::string& name) {
      events += "end " + std::to_string(index) + " " + Relative(name, dest) + "\n";
    };
    unzip.OnSkippingFile = [&](kestrel::TKestrelUnZip&, kestrel::TSkipReason reason, const std::string& name,
                               std::int32_t index, bool&) {
      events += "skip " + std::to_string(index) + " " + std::to_string(reason) + " " + Relative(name, dest) + "\n";
    };
    unzip.OnBadCRC = [&](kestrel::TKestrelUnZip& sender, std::uint32_t computed, std::uint32_t stored,
                         std::int32_t index) {
      events += "crc " + std::to_string(index) + " " + std::to_string(computed) + " " + std::to_string(stored) + " " +
                std::to_string(sender.DecodeResult()) + "\n";
    };
    unzip.OnBadPassword = [&](kestrel::TKestrelUnZip&, std::int32_t index, std::string&) {
      events += "password " + std::to_string(index) + "\n";
    };
    unzip.OnUnZipComplete = [&](kestrel::TKestrelUnZip&, std::int32_t count) {
      events += "complete " + std::to_string(count) + "\n";
    };
    try {
      unzip.SetZipName(archive);
      events += "done " + std::to_string(unzip.UnZip()) + "\n";
    } catch (const kestrel::Exception& failure) {
      events += std::string("failed ") + failure.what() + "\n";
    }
  }
  trace.Tree = TreeOf(dest);
  std::error_code error;
  fs::permissions(dest, fs::perms::owner_all, fs::perm_options::add, error);
  for (fs::recursive_directory_iterator it(dest, error), end; !error && it != end; it.increment(error))
    if (!it->is_symlink(error)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
  fs::remove_all(dest, error);
  return trace;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& work = fuzzsupport::WorkFolder("kestrel-fuzz-threads-");
  if (work.empty() || size == 0) return 0;
  const std::string archive = work + "input.zip";
  if (!fuzzsupport::WriteInput(archive, data + 1, size - 1)) return 0;
  const TRunTrace one = Extract(archive, work + "d1", 1, data[0]);
  const TRunTrace three = Extract(archive, work + "d3", 3, data[0]);
  if (one.Events != three.Events || one.Tree != three.Tree) std::abort();
  return 0;
}

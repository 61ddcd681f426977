#pragma once
// Helpers shared by the tests: a temporary folder per test, running a built program
// with its output captured, whole files and folder listings, archives written by
// Python's zipfile, and the shared fixtures (the legacy-method list among them).

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace testsupport {

/// A fresh folder for one test, removed with everything in it by the destructor.
class TTempFolder {
 public:
  TTempFolder();
  ~TTempFolder();
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  /// Path of a name inside the folder, as a string.
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

struct TRunResult {
  int Status = -1;  ///< exit status; -1 when the program did not exit normally
  std::string Out;
  std::string Err;
};

/// Runs a program with arguments (each passed as one word), stdin from /dev/null
/// unless input is given, in the working folder when one is given.
TRunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& workingFolder = {}, const std::string& environment = {});

/// Runs a shell command line; the exit status, or -1.
int RunShell(const std::string& commandLine);
/// Runs a shell command line in folder; the test fails when it does not succeed.
void ShellIn(const std::filesystem::path& folder, const std::string& commandLine);
/// True when a command of that name is on PATH.
bool HaveCommand(const std::string& name);

/// Entries of any kind (files, folders) below folder, or its regular files only, as
/// "/"-separated relative paths.
std::set<std::string> EntriesBelow(const std::filesystem::path& folder, bool filesOnly = false);
inline std::set<std::string> FilesBelow(const std::filesystem::path& folder) { return EntriesBelow(folder, true); }

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& bytes);
/// A small tree of files to archive: a text of 20,000 lines (with lineEnd) two
/// folders down, an empty file, 150,000 bytes of binary data, a name without a dot.
void WriteSampleTree(const std::filesystem::path& tree, const std::string& lineEnd);

/// One entry of an archive written by Python's zipfile.
struct TPyZipEntry {
  std::string Name;  ///< a name ending in "/" is a folder entry
  std::string Data;
  /// zipfile's method without "ZIP_" (STORED, DEFLATED, BZIP2, LZMA), or XZ or
  /// ZSTD (the xz and zstd programs' output); empty for the archive's own.
  std::string Method = {};
  bool Zip64 = false;  ///< ZIP64 records though the entry is small (force_zip64)
};
struct TPyZipOptions {
  std::string Method = "STORED";  ///< the archive's method
  std::string Comment = {};
  /// A folder whose every file (no folder entries) goes in first, named by its
  /// path below the folder, in os.walk's order.
  std::filesystem::path Tree = {};
};
/// Writes the archive with Python's zipfile (writestr, or open with force_zip64);
/// throws when Python fails.
void PythonZip(const std::filesystem::path& archive, const std::vector<TPyZipEntry>& entries,
               const TPyZipOptions& options = {});
/// The archive of every file below tree (see TPyZipOptions::Tree).
inline void PythonZipTree(const std::filesystem::path& archive, const std::filesystem::path& tree,
                          const std::string& method = "DEFLATED") {
  PythonZip(archive, {}, {method, {}, tree});
}

/// Quotes a word for the shell.
std::string ShellQuote(const std::string& word);

/// Skips the current test when a shared fixture is not at hand (a checkout without
/// the shared folder beside it).
#define KESTREL_REQUIRE_FIXTURE(path) \
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "fixture missing: " << (path).string()

/// One line of the legacy-method fixtures' EXPECTED.tsv.
struct TLegacyFixtureEntry {
  std::string Archive, Name;  ///< the archive below legacy-zip/; the entry's stored path
  unsigned Method = 0;
  std::uint64_t CompressedSize = 0, Size = 0;
  std::uint32_t Crc = 0;
  std::string Sha256, Verdict;  ///< the verdict: "ok", "dir" or "bad-crc"
};
/// The lines of legacy-zip/EXPECTED.tsv in their order; none without the fixtures.
std::vector<TLegacyFixtureEntry> LegacyFixtureEntries();
/// The SHA-256 of data in lower-case hex, as EXPECTED.tsv lists it.
std::string Sha256Hex(const std::string& data);

/// Path of a file under the shared fixtures folder.
std::filesystem::path Fixture(const std::string& relative);
/// Path of a file in the source tree.
std::filesystem::path SourceFile(const std::string& relative);

}  // namespace testsupport

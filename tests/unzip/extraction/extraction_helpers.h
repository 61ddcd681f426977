#pragma once
// Helpers of the extraction tests: archives written into a test's folder, a
// component set up for a run, and a recorder of the events it fires.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/unzip/zip_builder.h"
#include "unzip/decode/decrypt.h"
#include "unzip/kestrel_unzip.h"

namespace extractiontest {

namespace fs = std::filesystem;

/// Writes an archive built from the entries and returns its path.
inline std::string WriteArchive(const testsupport::TTempFolder& folder, const std::string& name,
                                const std::vector<ziptest::TEntrySpec>& entries) {
  const std::string path = folder / name;
  testsupport::WriteFile(path, ziptest::BuildArchive(entries));
  return path;
}

using testsupport::ShellIn;

/// The bytes Info-ZIP unzip gives for one entry.
inline std::string InfoZipBytes(const std::string& archive, const std::string& entry,
                                const std::string& password = {}) {
  std::vector<std::string> args{"-p"};
  if (!password.empty()) args.insert(args.end(), {"-P", password});
  args.insert(args.end(), {archive, entry});
  return testsupport::RunProgram("unzip", args).Out;
}

/// Every entry name of an archive, as Python's zipfile lists it.
inline std::vector<std::string> PythonNames(const std::string& archive) {
  const auto run = testsupport::RunProgram(
      "python3", {"-c", "import sys,zipfile\nfor n in zipfile.ZipFile(sys.argv[1]).namelist(): print(n)", archive});
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start < run.Out.size()) {
    const std::size_t end = run.Out.find('\n', start);
    names.push_back(run.Out.substr(start, end - start));
    start = end == std::string::npos ? run.Out.size() : end + 1;
  }
  return names;
}

/// A component for archive extracting to dest with every entry and folders.
inline void SetUpAll(kestrel::TKestrelUnZip& unzip, const std::string& archive, const std::string& dest) {
  unzip.SetZipName(archive);
  unzip.SetDestDir(dest);
  unzip.SetDoAll(true);
  unzip.SetRecreateDirs(true);
  unzip.SetOverwriteMode(kestrel::TUZOverwriteMode::Always);
}

/// Records every event as one line; a test compares the sequence.
struct TRecorder {
  std::vector<std::string> Lines;

  static std::string Base(const std::string& path) { return fs::path(path).filename().string(); }

  void Attach(kestrel::TKestrelUnZip& unzip) {
    using namespace kestrel;
    unzip.OnStartUnZipInfo = [this](TKestrelUnZip&, std::int32_t n, std::int64_t total, bool&) {
      Lines.push_back("info " + std::to_string(n) + " " + std::to_string(total));
    };
    unzip.OnStartUnZip = [this](TKestrelUnZip&, std::int32_t i, std::string& fName, bool&) {
      Lines.push_back("start " + std::to_string(i) + " " + Base(fName));
    };
    unzip.OnEndUnZip = [this](TKestrelUnZip&, std::int32_t i, const std::string& fName) {
      Lines.push_back("end " + std::to_string(i) + " " + Base(fName));
    };
    unzip.OnSkippingFile = [this](TKestrelUnZip&, TSkipReason reason, const std::string& fName, std::int32_t i, bool&) {
      Lines.push_back("skip " + std::to_string(static_cast<int>(reason)) + " " + std::to_string(i) + " " + Base(fName));
    };
    unzip.OnBadCRC = [this](TKestrelUnZip&, std::uint32_t, std::uint32_t, std::int32_t i) {
      Lines.push_back("badcrc " + std::to_string(i));
    };
    unzip.OnUnZipComplete = [this](TKestrelUnZip&, std::int32_t count) {
      Lines.push_back("complete " + std::to_string(count));
    };
  }
};

}  // namespace extractiontest

namespace extractiontest {

/// Data encrypted with the traditional cipher behind a 12-byte header whose last
/// plain byte is check (a test-only encryptor: the archive tools' own output is
/// covered by the Info-ZIP and 7-Zip tests).
inline std::string Encrypt(const std::string& password, const std::string& plain, std::uint8_t check) {
  kestrel::TZipKeys keys;
  keys.InitKeys(password);
  std::string header = "0123456789a";
  header += static_cast<char>(check);
  std::string out;
  for (const char c : header + plain) {
    const std::uint8_t p = static_cast<std::uint8_t>(c);
    out += static_cast<char>(p ^ keys.DecryptByte());
    keys.UpdateKeys(p);
  }
  return out;
}

/// An encrypted stored entry of plain under password, checked by the CRC's high byte.
inline ziptest::TEntrySpec EncryptedEntry(const std::string& name, const std::string& password,
                                          const std::string& plain) {
  ziptest::TEntrySpec entry;
  entry.Name = name;
  entry.Crc = ziptest::Crc32(plain);
  entry.Flags = 1;
  entry.Data = Encrypt(password, plain, static_cast<std::uint8_t>(entry.Crc >> 24));
  return entry;
}

}  // namespace extractiontest

namespace extractiontest {

/// Replaces a 32-bit field of the n-th central header (offset within the header)
/// and, when localOffset is given, of the matching local header.
inline void PatchSize(std::string& archive, int n, std::size_t centralOffset, std::size_t localOffset,
                      std::uint32_t value) {
  auto put = [&](std::size_t at) {
    for (int i = 0; i < 4; ++i) archive[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  std::size_t at = 0;
  for (int i = 0; i <= n; ++i) at = archive.find("PK\x01\x02", i == 0 ? 0 : at + 4);
  ASSERT_NE(at, std::string::npos);
  put(at + centralOffset);
  const std::uint32_t local = static_cast<std::uint8_t>(archive[at + 42]) |
                              (static_cast<std::uint8_t>(archive[at + 43]) << 8) |
                              (static_cast<std::uint8_t>(archive[at + 44]) << 16) |
                              (static_cast<std::uint32_t>(static_cast<std::uint8_t>(archive[at + 45])) << 24);
  if (localOffset != 0) put(local + localOffset);
}

}  // namespace extractiontest

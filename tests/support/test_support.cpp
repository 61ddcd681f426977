#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testsupport {

TTempFolder::TTempFolder() {
  static std::atomic<unsigned> counter{0};
  std::random_device device;
  const auto base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = base / ("kestrel-test-" + std::to_string(device()) + "-" + std::to_string(counter++));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary test folder");
}

TTempFolder::~TTempFolder() {
  std::error_code error;
  // Tests may leave read-only files and folders behind; make them writable first.
  for (auto it = fs::recursive_directory_iterator(path_, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
  }
  fs::remove_all(path_, error);
}

std::string ShellQuote(const std::string& word) {
  std::string quoted = "'";
  for (const char c : word) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

int RunShell(const std::string& commandLine) {
  const int status = std::system(commandLine.c_str());
  if (status == -1) return -1;
  // std::system returns a wait status on POSIX.
  if ((status & 0x7F) != 0) return -1;
  return (status >> 8) & 0xFF;
}

void ShellIn(const fs::path& folder, const std::string& commandLine) {
  ASSERT_EQ(RunShell("cd " + ShellQuote(folder.string()) + " && " + commandLine), 0) << commandLine;
}

bool HaveCommand(const std::string& name) {
  return RunShell("command -v " + ShellQuote(name) + " >/dev/null 2>&1") == 0;
}

TRunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& workingFolder, const std::string& environment) {
  TTempFolder capture;
  std::string line;
  if (!workingFolder.empty()) {
    line += "cd ";
    line += ShellQuote(workingFolder);
    line += " && ";
  }
  if (!environment.empty()) line += environment + " ";
  line += ShellQuote(program);
  for (const auto& arg : args) {
    line += ' ';
    line += ShellQuote(arg);
  }
  line += " </dev/null >";
  line += ShellQuote(capture / "out");
  line += " 2>";
  line += ShellQuote(capture / "err");
  TRunResult result;
  result.Status = RunShell(line);
  result.Out = ReadFile(capture / "out");
  result.Err = ReadFile(capture / "err");
  return result;
}

std::set<std::string> EntriesBelow(const fs::path& folder, bool filesOnly) {
  std::set<std::string> entries;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    if (!filesOnly || it->is_regular_file()) entries.insert(fs::relative(it->path(), folder).generic_string());
  }
  return entries;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

void WriteSampleTree(const fs::path& tree, const std::string& lineEnd) {
  fs::create_directories(tree / "docs/deep");
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i) + " of some text" + lineEnd;
  WriteFile(tree / "docs/deep/text.txt", text);
  WriteFile(tree / "docs/empty.txt", "");
  std::string binary(150000, '\0');
  for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>((i * 2654435761u) >> 13);
  WriteFile(tree / "binary.bin", binary);
  WriteFile(tree / "readme", "no dot in this name");
}

void PythonZip(const fs::path& archive, const std::vector<TPyZipEntry>& entries, const TPyZipOptions& options) {
  // The entries' bytes go in one file and a line per entry (name, method, offset,
  // size, ZIP64) in another, so that any bytes and any number of entries pass.
  TTempFolder work;
  std::string spec, blob;
  for (const auto& e : entries) {
    if (e.Name.find_first_of("\t\n") != std::string::npos)
      throw std::invalid_argument("a tab or line break in " + e.Name);
    spec += e.Name + '\t' + e.Method + '\t' + std::to_string(blob.size()) + '\t' + std::to_string(e.Data.size()) +
            (e.Zip64 ? "\t1\n" : "\t\n");
    blob += e.Data;
  }
  WriteFile(work / "spec", spec);
  WriteFile(work / "blob", blob);
  static const char* const script = R"(import os, subprocess, sys, zipfile
archive, method, comment, tree, spec, blob = sys.argv[1:]
# xz (95) and Zstandard (93), which zipfile does not write, through the xz and
# zstd programs: each entry's bytes go through the tool whole at its end.
class Tool:
    def __init__(self, command): self.command, self.data = command, b''
    def compress(self, data): self.data += data; return b''
    def flush(self): return subprocess.run(self.command, input=self.data, capture_output=True, check=True).stdout
tools = {95: ['xz', '-c'], 93: ['zstd', '-c', '-q']}
zipfile.ZIP_XZ, zipfile.ZIP_ZSTD = 95, 93
check, compressor = zipfile._check_compression, zipfile._get_compressor
zipfile._check_compression = lambda m: None if m in tools else check(m)
zipfile._get_compressor = lambda m, level=None: Tool(tools[m]) if m in tools else compressor(m, level)
kind = lambda m: getattr(zipfile, 'ZIP_' + (m or method))
data = open(blob, 'rb').read()
with zipfile.ZipFile(archive, 'w', kind(method)) as z:
    z.comment = comment.encode()
    for d, _, files in os.walk(tree) if tree else []:
        for f in files:
            z.write(os.path.join(d, f), os.path.relpath(os.path.join(d, f), tree))
    for line in open(spec, encoding='utf-8').read().split('\n')[:-1]:
        name, m, at, size, zip64 = line.split('\t')
        part = data[int(at):int(at) + int(size)]
        if zip64:
            info = zipfile.ZipInfo(name)
            info.compress_type = kind(m)
            with z.open(info, 'w', force_zip64=True) as w:
                w.write(part)
        else:
            z.writestr(name, part, kind(m))
)";
  const auto run = RunProgram("python3", {"-c", script, archive.string(), options.Method, options.Comment,
                                          options.Tree.string(), work / "spec", work / "blob"});
  if (run.Status != 0) throw std::runtime_error("python3 could not write " + archive.string() + ": " + run.Err);
}

std::string Sha256Hex(const std::string& data) {
  static constexpr std::uint32_t k[64] = {
      0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
      0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
      0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
      0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
      0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
      0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
      0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
      0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};
  std::uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::string msg = data;
  const std::uint64_t bits = static_cast<std::uint64_t>(data.size()) * 8;
  msg.push_back(static_cast<char>(0x80));
  while (msg.size() % 64 != 56) msg.push_back('\0');
  for (int i = 7; i >= 0; --i) msg.push_back(static_cast<char>(bits >> (i * 8)));
  auto rotr = [](std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
  for (std::size_t off = 0; off < msg.size(); off += 64) {
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
      const auto* p = reinterpret_cast<const unsigned char*>(msg.data() + off + 4 * i);
      w[i] = static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
             static_cast<std::uint32_t>(p[2]) << 8 | p[3];
    }
    for (int i = 16; i < 64; ++i) {
      const std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
    for (int i = 0; i < 64; ++i) {
      const std::uint32_t t1 = hh + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
      const std::uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      hh = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e, h[5] += f, h[6] += g, h[7] += hh;
  }
  char hex[65];
  for (int i = 0; i < 8; ++i) std::snprintf(hex + 8 * i, 9, "%08x", h[i]);
  return std::string(hex, 64);
}

std::vector<TLegacyFixtureEntry> LegacyFixtureEntries() {
  std::vector<TLegacyFixtureEntry> entries;
  std::ifstream in(Fixture("legacy-zip/EXPECTED.tsv"));
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f;
    std::stringstream fields(line);
    for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
    if (f.size() != 9) throw std::runtime_error("not 9 fields in EXPECTED.tsv: " + line);
    entries.push_back({f[0], f[1], static_cast<unsigned>(std::stoul(f[2])), std::stoull(f[4]), std::stoull(f[5]),
                       static_cast<std::uint32_t>(std::stoul(f[6], nullptr, 16)), f[7], f[8]});
  }
  return entries;
}

fs::path Fixture(const std::string& relative) { return fs::path(KESTREL_FIXTURES_DIR) / relative; }
fs::path SourceFile(const std::string& relative) { return fs::path(KESTREL_SOURCE_DIR) / relative; }

}  // namespace testsupport

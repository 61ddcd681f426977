#include "tests/support/test_support.h"

#include <atomic>
#include <chrono>
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
    if (c == '\'') quoted += "'\\''";
    else quoted += c;
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
    if (e.Name.find_first_of("\t\n") != std::string::npos) throw std::invalid_argument("a tab or line break in " + e.Name);
    spec += e.Name + '\t' + e.Method + '\t' + std::to_string(blob.size()) + '\t' + std::to_string(e.Data.size()) +
            (e.Zip64 ? "\t1\n" : "\t\n");
    blob += e.Data;
  }
  WriteFile(work / "spec", spec);
  WriteFile(work / "blob", blob);
  static const char* const script = R"(import os, sys, zipfile
archive, method, comment, tree, spec, blob = sys.argv[1:]
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

fs::path Fixture(const std::string& relative) { return fs::path(KESTREL_FIXTURES_DIR) / relative; }
fs::path SourceFile(const std::string& relative) { return fs::path(KESTREL_SOURCE_DIR) / relative; }

}  // namespace testsupport

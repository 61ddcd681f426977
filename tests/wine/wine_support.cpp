#include "tests/wine/wine_support.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace winetest {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

// Maps a Windows path with a drive letter to Linux through the prefix's drive
// links (dosdevices/c: -> ../drive_c, dosdevices/z: -> /).
fs::path LinuxPathOf(const std::string& windowsPath) {
  if (windowsPath.size() < 2 || windowsPath[1] != ':' ||
      std::isalpha(static_cast<unsigned char>(windowsPath[0])) == 0) {
    return {};
  }
  const char drive = static_cast<char>(std::tolower(static_cast<unsigned char>(windowsPath[0])));
  fs::path result = WinePrefix() / "dosdevices" / (std::string(1, drive) + ":");
  std::string rest = windowsPath.substr(2);
  std::replace(rest.begin(), rest.end(), '\\', '/');
  while (!rest.empty() && rest.front() == '/') rest.erase(0, 1);
  if (!rest.empty()) result /= rest;
  std::error_code error;
  const fs::path canonical = fs::canonical(result, error);
  return error ? result : canonical;
}

// Asks Wine's command interpreter for an environment variable of the Wine user.
std::string WineVariable(const std::string& name) {
  const auto run = RunWine("cmd.exe", {"/c", "echo", "%" + name + "%"});
  std::string value = run.Out;
  while (!value.empty() && (value.back() == '\n' || value.back() == '\r' || value.back() == ' ')) value.pop_back();
  // An unset variable is echoed as written.
  if (run.Status != 0 || value == "%" + name + "%") return {};
  return value;
}

}  // namespace

fs::path Win32BuildFolder() {
  const std::string overridden = Environment("KESTREL_WIN32_BUILD");
  return overridden.empty() ? fs::path(KESTREL_WIN32_BUILD_DIR) : fs::path(overridden);
}

fs::path CorvaneExe() { return Win32BuildFolder() / "converter" / "corvane.exe"; }
fs::path KestrelUnzipExe() { return Win32BuildFolder() / "tools" / "kestrel-unzip.exe"; }
fs::path TessalyExe() { return Win32BuildFolder() / "chmtopic" / "tessaly.exe"; }

std::string MissingPrerequisite(const fs::path& exe) {
  static const bool haveWine = testsupport::HaveCommand("wine");
  if (!haveWine) return "wine is not installed";
  if (!fs::is_regular_file(exe)) return "no Windows build at " + exe.string();
  return {};
}

bool WineRequired() { return Environment("KESTREL_REQUIRE_WINE") == "1"; }

testsupport::TRunResult RunWine(const fs::path& exe, const std::vector<std::string>& args,
                                const std::string& workingFolder, const std::string& environment) {
  std::vector<std::string> wineArgs{exe.string()};
  wineArgs.insert(wineArgs.end(), args.begin(), args.end());
  // A UTF-8 locale: Wine then takes Linux file names as UTF-8, and the programs'
  // OEM code page is the US one (437), which archive names from MS-DOS are in.
  std::string prefix = "WINEDEBUG=-all LC_ALL=C.UTF-8";
  if (!environment.empty()) prefix += " " + environment;
  return testsupport::RunProgram("wine", wineArgs, workingFolder, prefix);
}

e2etest::TProgram WineProgram(const fs::path& exe) {
  e2etest::TProgram program;
  program.Run = [exe](const std::vector<std::string>& args, const fs::path& work) {
    return RunWine(exe, args, work.string());
  };
  program.Path = [](const fs::path& path) { return WindowsPath(path); };
  program.LineEnd = "\r\n";
  program.ExactErr = false;
  return program;
}

bool HasLine(const std::string& text, const std::string& line) {
  const std::string wanted = line + "\r\n";
  for (std::size_t at = text.find(wanted); at != std::string::npos; at = text.find(wanted, at + 1)) {
    if (at == 0 || text[at - 1] == '\n') return true;
  }
  return false;
}

std::string WithCrLf(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string WindowsPath(const fs::path& linuxPath) {
  std::string path = linuxPath.string();
  if (path.empty() || path.front() != '/') throw std::invalid_argument("not an absolute path: " + path);
  std::replace(path.begin(), path.end(), '/', '\\');
  return "Z:" + path;
}

fs::path WinePrefix() {
  const std::string prefix = Environment("WINEPREFIX");
  if (!prefix.empty()) return prefix;
  return fs::path(Environment("HOME")) / ".wine";
}

fs::path WineDriveC() { return LinuxPathOf("C:\\"); }

fs::path WineTempFolder() {
  // GetTempPath takes TMP first, then TEMP.
  static const fs::path folder = [] {
    std::string windows = WineVariable("TMP");
    if (windows.empty()) windows = WineVariable("TEMP");
    return LinuxPathOf(windows);
  }();
  return folder;
}

std::set<std::string> CorvaneWorkFolders() {
  std::set<std::string> names;
  std::error_code error;
  for (auto it = fs::directory_iterator(WineTempFolder(), error); !error && it != fs::directory_iterator();
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.starts_with("corvane-")) names.insert(name);
  }
  return names;
}

std::set<std::string> WorkFoldersLeftSince(const std::set<std::string>& before) {
  // Other test programs may run corvane in the same prefix at the same time; a
  // folder of theirs goes away within their run, one of ours never does.
  std::set<std::string> left;
  for (int attempt = 0; attempt < 20; ++attempt) {
    left.clear();
    for (const auto& name : CorvaneWorkFolders()) {
      if (!before.contains(name)) left.insert(name);
    }
    if (left.empty()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return left;
}

TDriveCFolder::TDriveCFolder() {
  std::random_device device;
  const fs::path driveC = WineDriveC();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate = driveC / ("kestrel-wine-" + std::to_string(device() % 1000000));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a folder on Wine's drive C: in " + driveC.string());
}

TDriveCFolder::~TDriveCFolder() {
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(path_, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
  }
  fs::remove_all(path_, error);
}

}  // namespace winetest

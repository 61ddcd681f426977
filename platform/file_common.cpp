// What both backends share of the open-file classes: moving a file handle and a
// view, and reading a file into memory where it is not mapped. Opening, closing,
// Release and Load are the backend's.

#include <vector>

#include "platform/file_system.h"

namespace platform {

bool FolderExists(const std::string& path) {
  const auto attributes = ReadAttributes(path);
  return attributes && (*attributes & faDirectory) != 0;
}

bool FileExists(const std::string& path) {
  const auto attributes = ReadAttributes(path);
  return attributes && (*attributes & faDirectory) == 0;
}

void ForceFolders(const std::string& path, const TPathRules& rules) {
  // The folders missing from the innermost outwards are gathered first, then made
  // outermost first: a hostile path of thousands of steps costs no deeper stack
  // than one of two.
  std::vector<std::string> missing;
  std::string folder = path;
  auto isDrive = [&](const std::string& part) { return rules.HasDrives && part.back() == ':'; };
  for (;;) {
    while (!folder.empty() && !isDrive(folder) && IsPathSeparator(folder.back(), rules)) folder.pop_back();
    // A root always exists; what stands before a ":" is a drive, never a folder.
    if (folder.empty() || isDrive(folder) || FolderExists(folder)) break;
    missing.push_back(folder);
    const std::size_t parent = PathFolderPart(folder, rules).size();
    if (parent == 0) break;
    folder.resize(parent);
  }
  for (auto step = missing.rbegin(); step != missing.rend(); ++step) MakeFolder(*step);
}

TFile::TFile(TFile&& other) noexcept : handle_(other.handle_), knownMode_(other.knownMode_) {
  other.handle_ = -1;
  other.knownMode_ = -1;
}

TFile& TFile::operator=(TFile&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    knownMode_ = other.knownMode_;
    other.handle_ = -1;
    other.knownMode_ = -1;
  }
  return *this;
}

TFileBytes::TFileBytes(TFileBytes&& other) noexcept
    : data_(other.data_), size_(other.size_), mapped_(other.mapped_), copy_(std::move(other.copy_)) {
  if (!mapped_) data_ = copy_.data();
  other.data_ = nullptr;
  other.size_ = 0;
  other.mapped_ = false;
}

TFileBytes& TFileBytes::operator=(TFileBytes&& other) noexcept {
  if (this != &other) {
    Release();
    mapped_ = other.mapped_;
    size_ = other.size_;
    copy_ = std::move(other.copy_);
    data_ = mapped_ ? other.data_ : copy_.data();
    other.data_ = nullptr;
    other.size_ = 0;
    other.mapped_ = false;
  }
  return *this;
}

TFileBytes::~TFileBytes() { Release(); }

bool TFileBytes::ReadAll(TFile& file) {
  // A pipe cannot go back: what it gives from here on is all there is.
  if (file.Kind() != TFileKind::Other && file.Seek(0, TSeekOrigin::Begin) < 0) return false;
  char chunk[65536];
  for (;;) {
    const std::int64_t got = file.Read(chunk, sizeof chunk);
    if (got < 0) {
      copy_.clear();
      return false;
    }
    if (got == 0) break;
    copy_.append(chunk, static_cast<std::size_t>(got));
  }
  data_ = copy_.data();
  size_ = copy_.size();
  return true;
}

}  // namespace platform

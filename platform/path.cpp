// The pure path routines, shared by both backends and every caller.

#include "platform/path.h"

#include <cctype>
#include <vector>

namespace platform {
namespace {

// Index of the byte that ends the folder part, or npos.
std::size_t FolderEnd(const std::string& path, const TPathRules& rules) {
  for (std::size_t i = path.size(); i-- > 0;) {
    if (IsPathSeparator(path[i], rules) || path[i] == '\0') return i;
  }
  return std::string::npos;
}

bool IsDriveLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

}  // namespace

bool IsBareDrive(const std::string& path, const TPathRules& rules) {
  return rules.HasDrives && path.size() == 2 && path[1] == ':' && IsDriveLetter(path[0]);
}

std::string PathFolderPart(const std::string& path, const TPathRules& rules) {
  const std::size_t end = FolderEnd(path, rules);
  return end == std::string::npos ? std::string() : path.substr(0, end + 1);
}

std::string PathNamePart(const std::string& path, const TPathRules& rules) {
  const std::size_t end = FolderEnd(path, rules);
  return end == std::string::npos ? path : path.substr(end + 1);
}

std::string PathFolder(const std::string& path, const TPathRules& rules) {
  const std::size_t at = path.find_last_of(rules.Separators);
  if (at == std::string::npos) return std::string();
  return path.substr(0, path[at] == ':' ? at + 1 : at);
}

TSplitName SplitFileName(const std::string& path, const TPathRules& rules) {
  // One scan from the last byte to the first: the extension runs back to the
  // name's last dot, the name back to the last separator, the rest is the folder.
  TSplitName parts;
  std::size_t i = path.size();
  if (path.find('.') != std::string::npos) {
    while (i > 0) {
      const char c = path[i - 1];
      if (IsPathSeparator(c, rules)) {
        // A dot in a folder name only: no extension after all.
        parts.Name = path.substr(i, std::string::npos);
        parts.Folder = path.substr(0, i);
        return parts;
      }
      --i;
      if (c == '.') break;
    }
    parts.Extension = path.substr(i);
  }
  std::size_t nameEnd = i;
  while (i > 0 && !IsPathSeparator(path[i - 1], rules)) --i;
  parts.Name = path.substr(i, nameEnd - i);
  parts.Folder = path.substr(0, i);
  return parts;
}

std::size_t ExtensionStart(const std::string& path, const TPathRules& rules) {
  const auto dot = path.find_last_of('.');
  if (dot == std::string::npos) return std::string::npos;
  const auto separator = path.find_last_of(rules.Separators);
  if (separator != std::string::npos && separator > dot) return std::string::npos;
  return dot;
}

std::string ChangeExtension(const std::string& path, const std::string& extension, const TPathRules& rules) {
  const auto dot = ExtensionStart(path, rules);
  return (dot == std::string::npos ? path : path.substr(0, dot)) + extension;
}

std::string WithTrailingSeparator(const std::string& path, const TPathRules& rules) {
  if (path.empty() || IsPathSeparator(path.back(), rules)) return path;
  if (rules.HasDrives && path.size() == 1 && IsDriveLetter(path[0])) return path + ":" + rules.Separator;
  return path + rules.Separator;
}

std::string FoldDotSteps(const std::string& absolutePath, const TPathRules& rules) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= absolutePath.size()) {
    std::size_t end = absolutePath.find_first_of(rules.Separators, start);
    if (end == std::string::npos) end = absolutePath.size();
    std::string part = absolutePath.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(std::move(part));
    }
    start = end + 1;
  }
  std::string result;
  for (const auto& part : parts) result += rules.Separator + part;
  if (result.empty() || IsPathSeparator(absolutePath.back(), rules)) result += rules.Separator;
  return result;
}

}  // namespace platform

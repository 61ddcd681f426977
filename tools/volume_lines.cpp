#include "tools/volume_lines.h"

#include <cstdio>
#include <vector>

#include "platform/file_system.h"
#include "tools/terminal_text.h"
#include "unzip/volume_set.h"

namespace kestrel::tool {
namespace {

/// Parts named one by one in a line; more are named by the first and the last.
constexpr std::size_t MostPartsNamed = 8;

}  // namespace

void SayFaultyParts(const TKestrelUnZip& unzip, TRunReport& report) {
  const TVolumeSet* set = unzip.VolumeSet();
  if (set == nullptr) return;
  const std::vector<TVolumePart>& parts = set->Parts();
  const std::string kind = unzip.VolumeSetIsSplit() ? "part " : "volume ";
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const TVolumePart& part = parts[i];
    if (part.Fault == vfNone) continue;
    std::string text = "warning: " + kind + std::to_string(i + 1) + " of " + std::to_string(parts.size()) + ", " +
                       TerminalText(part.Name) + ", ";
    if (part.Fault == vfCutShort) {
      text += "is cut short (" + std::to_string(part.Size) + " bytes";
      const std::int64_t common = set->CommonPartSize();
      text += common > part.Size ? "; the other parts have " + std::to_string(common) + ")" : std::string(")");
    } else if (part.Fault == vfDoesNotFit) {
      text +=
          "does not fit: it is not " + kind + std::to_string(i + 1) + " of this set (out of order, or of another set)";
    } else {
      text += "is missing";
    }
    report.Say(text);
    report.Raise(ExitFormatError);
  }
}

std::string CrossedPartsText(const TKestrelUnZip& unzip, const TZipHeaderInfo& entry) {
  const TVolumeSet* set = unzip.VolumeSet();
  if (set == nullptr) return {};
  const auto from = static_cast<std::int64_t>(entry.LocalHeaderOffset);
  const auto to = static_cast<std::int64_t>(entry.LocalHeaderOffset + TLocalHeaderLayout::Size + entry.NameLength +
                                            entry.CentralExtraLength + entry.CompressedSize);
  const TVolumePart* first = set->PartAt(from);
  const TVolumePart* last = set->PartAt(to - 1);
  if (first == nullptr || last == nullptr || first == last) return {};
  std::string names;
  const auto count = static_cast<std::size_t>(last - first) + 1;
  if (count > MostPartsNamed) {
    names = TerminalText(first->Name) + " to " + TerminalText(last->Name);
  } else {
    for (const TVolumePart* part = first; part != last; ++part)
      names += TerminalText(part->Name) + (part + 1 == last ? " and " : ", ");
    names += TerminalText(last->Name);
  }
  return "; its bytes run across " + names + ": one of them may not belong to this set";
}

std::string NextVolumeName(const TKestrelUnZip& unzip, const std::string& archive) {
  const TVolumeSet* set = unzip.VolumeSet();
  if (set != nullptr && unzip.VolumeSetIsSplit()) return {};
  const std::string& last = set != nullptr && !set->Parts().empty() ? set->Parts().back().Name : archive;
  const std::size_t dot = last.find_last_of('.');
  if (dot == std::string::npos || last.size() - dot - 1 < 3 || last.size() - dot - 1 > 6 ||
      last.find_first_not_of("0123456789", dot + 1) != std::string::npos)
    return {};
  const int width = static_cast<int>(last.size() - dot - 1);
  char digits[16];
  std::snprintf(digits, sizeof digits, "%0*ld", width, std::stol(last.substr(dot + 1)) + 1);
  return last.substr(0, dot + 1) + digits;
}

std::string SplitSetLastPart(const std::string& archive) {
  const std::size_t dot = archive.find_last_of('.');
  if (dot == std::string::npos || archive.find_first_of("/\\", dot) != std::string::npos) return {};
  std::string extension = archive.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  const bool winZip = extension.starts_with("zx");
  const std::size_t digits = winZip ? 2 : 1;
  if (extension.size() < digits + 2 || extension[0] != 'z' ||
      extension.find_first_not_of("0123456789", digits) != std::string::npos)
    return {};
  const std::string stem = archive.substr(0, dot);
  const char* const lastParts[2][2] = {{".zip", ".ZIP"}, {".zipx", ".ZIPX"}};
  for (const char* last : lastParts[winZip ? 1 : 0]) {
    if (platform::QueryFileKind(stem + last) == platform::TFileKind::Regular) return stem + last;
  }
  return {};
}

}  // namespace kestrel::tool

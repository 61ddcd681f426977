#include "converter/binaries.h"

#include <array>
#include <cstdint>

#include "converter/stylesheet.h"
#include "platform/file_system.h"
#include "platform/host_ui.h"
#include "unzip/dest_paths.h"

namespace corvane {
namespace {

constexpr std::uint8_t Skip = 0xFF;
constexpr std::uint8_t Pad = 0xFE;

// Value of each byte in the Base64 alphabet; Pad for "=", Skip for the rest.
constexpr std::array<std::uint8_t, 256> MakeBase64Values() {
  std::array<std::uint8_t, 256> values{};
  for (auto& v : values) v = Skip;
  for (int i = 0; i < 26; ++i) {
    values['A' + i] = static_cast<std::uint8_t>(i);
    values['a' + i] = static_cast<std::uint8_t>(26 + i);
  }
  for (int i = 0; i < 10; ++i) values['0' + i] = static_cast<std::uint8_t>(52 + i);
  values['+'] = 62;
  values['/'] = 63;
  values['='] = Pad;
  return values;
}
constexpr auto Base64Values = MakeBase64Values();
static_assert(Base64Values['A'] == 0 && Base64Values['z'] == 51 && Base64Values['/'] == 63);
static_assert(Base64Values['\n'] == Skip && Base64Values['='] == Pad);

}  // namespace

std::string_view TextBefore(std::string_view text, std::string_view separator) {
  const std::size_t at = text.find(separator);
  return at == std::string_view::npos ? text : text.substr(0, at);
}

std::string_view TextAfter(std::string_view text, std::string_view separator) {
  const std::size_t at = text.find(separator);
  return at == std::string_view::npos ? text : text.substr(at + separator.size());
}

std::string_view TextBetween(std::string_view text, std::string_view openMark, std::string_view closeMark) {
  const std::size_t open = text.find(openMark);
  if (open == std::string_view::npos) return {};
  const std::size_t close = text.find(closeMark, open + 1);
  if (close == std::string_view::npos) return {};
  const std::size_t begin = open + openMark.size();
  return close < begin ? std::string_view() : text.substr(begin, close - begin);
}

bool NextTaggedElement(std::string_view text, std::size_t& offset, std::string_view name, std::string_view attribute,
                       std::string_view& value, std::string_view& content) {
  std::string opening = "<";
  opening.append(name).append(" ");
  std::string closing = "</";
  closing.append(name).append(">");
  if (offset > text.size()) return false;
  const std::size_t open = text.find(opening, offset);
  if (open == std::string_view::npos) return false;
  const std::size_t close = text.find(closing, open);
  if (close == std::string_view::npos) return false;
  // From just after the "<" through the "<" of the closing tag.
  const std::string_view chunk = text.substr(open + 1, close - open);
  offset = close;
  content = TextBetween(chunk, ">", "<");
  if (content.empty()) return false;
  std::string key = " ";
  key.append(attribute).append("=");
  value = TextBetween(TextBefore(TextAfter(chunk, key), ">"), "\"", "\"");
  return !value.empty();
}

std::string DecodeBase64(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3 + 3);
  std::uint8_t group[4];
  int filled = 0;
  for (const char c : text) {
    const std::uint8_t v = Base64Values[static_cast<unsigned char>(c)];
    if (v == Skip) continue;
    group[filled++] = v;
    if (filled < 4) continue;
    filled = 0;
    // Padding in the first two places is malformed: nothing more is decoded.
    if (group[0] == Pad || group[1] == Pad) break;
    out += static_cast<char>((group[0] << 2) | (group[1] >> 4));
    if (group[2] == Pad) break;
    out += static_cast<char>((group[1] << 4) | (group[2] >> 2));
    if (group[3] == Pad) break;
    out += static_cast<char>((group[2] << 6) | group[3]);
  }
  return out;
}

bool PayloadIdIsSafe(std::string_view id) {
  if (id.empty() || id == "." || id == ".." || id.find_first_of("/\\:") != std::string_view::npos) return false;
  // A device's name would write to the device, not into the folder.
  return !platform::HostPathRules().HasDrives || kestrel::WindowsSafeName(id) == id;
}

void ExtractBinaries(const std::string& documentPath, const std::string& folder, std::vector<std::string>& created) {
  TFileText text;
  if (!LoadFileText(documentPath, text)) return;
  std::size_t offset = 0;
  std::string_view id, payload;
  while (!platform::InterruptRequested() && NextTaggedElement(text.View(), offset, "binary", "id", id, payload)) {
    // An id that would name a file outside the output folder is passed over.
    if (!PayloadIdIsSafe(id)) continue;
    const std::string target = folder + std::string(id);
    const std::string bytes = DecodeBase64(payload);
    if (!platform::QueryFileKind(target)) created.push_back(target);
    // A payload named like the document itself replaces it on disk while the
    // scan goes on over the text as it was loaded.
    if (platform::SameFile(target, documentPath))
      ReplaceFileText(target, {bytes});
    else
      SaveFileText(target, bytes);
  }
}

}  // namespace corvane

#include "converter/manifest.h"

#include <cstdint>
#include <string>

#include "platform/utf8.h"

namespace corvane {
namespace {

constexpr std::size_t npos = std::string_view::npos;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The name without its namespace prefix: the manifest's elements are found by
// what they are, whatever prefix a producer bound to the manifest namespace.
std::string_view LocalName(std::string_view qualified) {
  const std::size_t colon = qualified.rfind(':');
  return colon == npos ? qualified : qualified.substr(colon + 1);
}

// The character a numeric reference ("#38", "#x26") names; nothing for one that
// names no character.
bool NumericReference(std::string_view ref, std::uint32_t& cp) {
  if (ref.size() < 2 || ref[0] != '#') return false;
  const bool hex = ref[1] == 'x';
  const std::string_view digits = ref.substr(hex ? 2 : 1);
  if (digits.empty()) return false;
  cp = 0;
  for (const char c : digits) {
    std::uint32_t value;
    if (c >= '0' && c <= '9') {
      value = static_cast<std::uint32_t>(c - '0');
    } else if (hex && c >= 'a' && c <= 'f') {
      value = static_cast<std::uint32_t>(c - 'a' + 10);
    } else if (hex && c >= 'A' && c <= 'F') {
      value = static_cast<std::uint32_t>(c - 'A' + 10);
    } else {
      return false;
    }
    cp = cp * (hex ? 16 : 10) + value;
    if (cp > 0x10FFFF) return false;
  }
  return cp != 0 && (cp < 0xD800 || cp > 0xDFFF);
}

// An attribute value with its references resolved: a path such as "a&amp;b.fb2"
// is the part a&b.fb2. A reference that is not one stays as it stands.
std::string ResolveReferences(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const std::size_t semicolon = raw[i] == '&' ? raw.find(';', i) : npos;
    // The longest reference a path needs is a numeric one of a few digits.
    if (semicolon == npos || semicolon - i > 10) {
      out += raw[i];
      continue;
    }
    const std::string_view ref = raw.substr(i + 1, semicolon - i - 1);
    std::uint32_t cp = 0;
    if (ref == "amp") {
      out += '&';
    } else if (ref == "lt") {
      out += '<';
    } else if (ref == "gt") {
      out += '>';
    } else if (ref == "quot") {
      out += '"';
    } else if (ref == "apos") {
      out += '\'';
    } else if (NumericReference(ref, cp)) {
      platform::AppendUtf8(out, cp);
    } else {
      out += raw[i];
      continue;
    }
    i = semicolon;
  }
  return out;
}

// A part path without the leading "/" or "./" steps that some producers write.
std::string_view Relative(std::string_view path) {
  for (;;) {
    if (path.starts_with("/")) {
      path.remove_prefix(1);
    } else if (path.starts_with("./")) {
      path.remove_prefix(2);
    } else {
      return path;
    }
  }
}

bool SamePath(std::string_view a, std::string_view b, bool caseInsensitive) {
  a = Relative(a);
  b = Relative(b);
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (caseInsensitive) {
      if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
      if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    }
    if (x != y) return false;
  }
  return true;
}

// Where the markup that starts at text[at] with "<!" ends: just after its ">",
// which for a DOCTYPE lies after the brackets of its internal subset and outside
// quoted literals. npos when the text ends first.
std::size_t DeclarationEnd(std::string_view text, std::size_t at) {
  int brackets = 0;
  char quote = 0;
  for (std::size_t i = at + 2; i < text.size(); ++i) {
    const char c = text[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '[') {
      ++brackets;
    } else if (c == ']') {
      if (brackets > 0) --brackets;
    } else if (c == '>' && brackets == 0) {
      return i + 1;
    }
  }
  return npos;
}

// One start tag, read from just after its "<".
struct TStartTag {
  std::string_view Name;
  std::string FullPath;  ///< the resolved full-path attribute, when HasFullPath
  bool HasFullPath = false;
  bool SelfClosing = false;
  std::size_t End = npos;  ///< just after the tag's ">"; npos when the text ends first
};

TStartTag ReadStartTag(std::string_view text, std::size_t i) {
  TStartTag tag;
  const std::size_t nameStart = i;
  while (i < text.size() && !IsSpace(text[i]) && text[i] != '>' && text[i] != '/') ++i;
  tag.Name = text.substr(nameStart, i - nameStart);
  for (;;) {
    while (i < text.size() && IsSpace(text[i])) ++i;
    if (i >= text.size()) return tag;
    if (text[i] == '>') {
      tag.End = i + 1;
      return tag;
    }
    if (text[i] == '/') {
      if (i + 1 < text.size() && text[i + 1] == '>') {
        tag.SelfClosing = true;
        tag.End = i + 2;
        return tag;
      }
      ++i;  // a stray slash
      continue;
    }
    const std::size_t attributeStart = i;
    while (i < text.size() && !IsSpace(text[i]) && text[i] != '=' && text[i] != '>' && text[i] != '/') ++i;
    const std::string_view attribute = text.substr(attributeStart, i - attributeStart);
    while (i < text.size() && IsSpace(text[i])) ++i;
    if (i >= text.size() || text[i] != '=') {
      if (attribute.empty()) ++i;  // a byte that starts nothing, such as a lone "="
      continue;
    }
    ++i;
    while (i < text.size() && IsSpace(text[i])) ++i;
    if (i >= text.size()) return tag;
    std::string_view value;
    if (text[i] == '"' || text[i] == '\'') {
      // A quoted value may hold ">" and "/": the tag ends only after it.
      const std::size_t close = text.find(text[i], i + 1);
      if (close == npos) return tag;
      value = text.substr(i + 1, close - i - 1);
      i = close + 1;
    } else {
      const std::size_t valueStart = i;
      while (i < text.size() && !IsSpace(text[i]) && text[i] != '>') ++i;
      value = text.substr(valueStart, i - valueStart);
    }
    if (LocalName(attribute) == "full-path") {
      tag.FullPath = ResolveReferences(value);
      tag.HasFullPath = true;
    }
  }
}

}  // namespace

bool ManifestMarksEncrypted(std::string_view manifest, std::string_view partPath, bool caseInsensitive) {
  const std::string_view text = manifest;
  // Elements open at the scan's position, and the depth of the part's own
  // file-entry while the scan is inside it (0 outside).
  std::size_t depth = 0;
  std::size_t entryDepth = 0;
  std::size_t at = 0;
  while ((at = text.find('<', at)) != npos) {
    const std::string_view rest = text.substr(at);
    std::size_t next = npos;
    if (rest.starts_with("<!--")) {
      next = text.find("-->", at + 4);
      if (next != npos) next += 3;
    } else if (rest.starts_with("<![CDATA[")) {
      next = text.find("]]>", at + 9);
      if (next != npos) next += 3;
    } else if (rest.starts_with("<?")) {
      next = text.find("?>", at + 2);
      if (next != npos) next += 2;
    } else if (rest.starts_with("<!")) {
      next = DeclarationEnd(text, at);
    } else if (rest.starts_with("</")) {
      next = text.find('>', at + 2);
      if (next != npos) ++next;
      if (depth > 0) --depth;
      if (depth < entryDepth) entryDepth = 0;
    } else {
      const TStartTag tag = ReadStartTag(text, at + 1);
      const std::string_view local = LocalName(tag.Name);
      if (local == "encryption-data" && entryDepth != 0) return true;
      if (!tag.SelfClosing) {
        ++depth;
        if (entryDepth == 0 && local == "file-entry" && tag.HasFullPath &&
            SamePath(tag.FullPath, partPath, caseInsensitive))
          entryDepth = depth;
      }
      next = tag.End;
    }
    if (next == npos) break;  // the text ends inside the markup
    at = next;
  }
  return false;
}

}  // namespace corvane

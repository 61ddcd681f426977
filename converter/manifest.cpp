#include "converter/manifest.h"

#include <optional>
#include <string>

#include "converter/xml_reader.h"

namespace corvane {
namespace {

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

// The entry's full-path, whatever prefix a producer bound to the manifest
// namespace (or none); of several, the last.
const std::string* FullPath(const TXmlElement& entry) {
  const std::string* path = nullptr;
  for (const TXmlAttribute& attribute : entry.Attributes) {
    if (attribute.LocalName == "full-path") path = &attribute.Value;
  }
  return path;
}

}  // namespace

bool ManifestMarksEncrypted(std::string_view manifest, std::string_view partPath, bool caseInsensitive) {
  // The depth of the part's own file-entry while the reading is inside it: the
  // elements after it that lie deeper.
  std::optional<int> entryDepth;
  bool encrypted = false;
  ReadDamagedXmlElements(manifest, [&](const TXmlElement& element) {
    if (entryDepth && element.Depth <= *entryDepth) entryDepth.reset();
    if (entryDepth) {
      encrypted = element.LocalName == "encryption-data";
      return !encrypted;
    }
    if (element.LocalName == "file-entry") {
      const std::string* path = FullPath(element);
      if (path != nullptr && SamePath(*path, partPath, caseInsensitive)) entryDepth = element.Depth;
    }
    return true;
  });
  return encrypted;
}

}  // namespace corvane

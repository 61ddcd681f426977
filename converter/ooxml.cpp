#include "converter/ooxml.h"

namespace corvane {
namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = LowerAscii(c);
  return lower;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "%41" is "A"; a "%" that starts no escape stays.
std::string PercentDecoded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int high = HexValue(text[i + 1]), low = HexValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        out += static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

// A URI that begins with a scheme ("http:", "file:", "mailto:") or a drive
// names something outside the package.
bool HasScheme(std::string_view target) {
  for (std::size_t i = 0; i < target.size(); ++i) {
    const char c = target[i];
    if (c == ':') return i > 0;
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!letter && (i == 0 || !((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'))) return false;
  }
  return false;
}

std::string_view FolderOf(std::string_view part) {
  const std::size_t slash = part.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : part.substr(0, slash + 1);
}

}  // namespace

bool SamePartName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::optional<TXmlFault> ReadRelationships(std::string_view text, std::vector<TRelationship>& relationships) {
  relationships.clear();
  return ReadXmlElements(text, [&](const TXmlElement& element) {
    if (element.Depth != 1 || element.LocalName != "Relationship") return true;
    TRelationship relationship;
    if (const std::string* id = element.Attribute("Id")) relationship.Id = *id;
    if (const std::string* type = element.Attribute("Type")) relationship.Type = *type;
    if (const std::string* target = element.Attribute("Target")) relationship.Target = *target;
    if (const std::string* mode = element.Attribute("TargetMode")) relationship.External = *mode == "External";
    relationships.push_back(std::move(relationship));
    return true;
  });
}

bool IsRelationship(const TRelationship& relationship, std::string_view kind) {
  // The format's two namespaces (".../officeDocument/2006/relationships/" of
  // Transitional, ".../officeDocument/relationships/" of Strict) and the office
  // suite's (".../office/2007/relationships/") all end so.
  const std::string suffix = "/relationships/" + LowerAscii(kind);
  return LowerAscii(relationship.Type).ends_with(suffix);
}

std::string PartNameKey(std::string_view part) { return LowerAscii(part); }

std::string TContentTypes::Of(std::string_view part) const {
  // A package names each part once here: looked up, never searched, for a flat
  // form that asks for every part's type.
  std::string name = "/";
  name.append(part);
  const auto override = Overrides.find(PartNameKey(name));
  if (override != Overrides.end()) return override->second;
  const std::size_t dot = part.rfind('.');
  if (dot == std::string_view::npos || part.find('/', dot) != std::string_view::npos) return {};
  const auto fallback = Defaults.find(PartNameKey(part.substr(dot + 1)));
  return fallback != Defaults.end() ? fallback->second : std::string();
}

std::optional<TXmlFault> ReadContentTypes(std::string_view text, TContentTypes& types) {
  types = {};
  return ReadXmlElements(text, [&](const TXmlElement& element) {
    if (element.Depth != 1) return true;
    const std::string* type = element.Attribute("ContentType");
    if (type == nullptr) return true;
    if (element.LocalName == "Default") {
      if (const std::string* extension = element.Attribute("Extension"))
        types.Defaults.emplace(PartNameKey(*extension), *type);
    } else if (element.LocalName == "Override") {
      if (const std::string* part = element.Attribute("PartName")) types.Overrides.emplace(PartNameKey(*part), *type);
    }
    return true;
  });
}

std::optional<TXmlFault> ReadFirstSheetId(std::string_view workbook, std::string& id) {
  id.clear();
  // workbook > sheets > sheet, each sheet with its relationship id as r:id.
  bool inSheets = false;
  return ReadXmlElements(workbook, [&](const TXmlElement& element) {
    if (element.Depth == 1) inSheets = element.LocalName == "sheets";
    if (!inSheets || element.Depth != 2 || element.LocalName != "sheet") return true;
    if (const std::string* value = element.Attribute("id", true)) id = *value;
    return false;
  });
}

std::optional<std::string> ResolvePartName(std::string_view sourcePart, std::string_view target) {
  if (HasScheme(target)) return std::nullopt;
  std::string path = PercentDecoded(target);
  // Some producers separate folders as Windows does.
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  if (!path.starts_with("/")) path = std::string(FolderOf(sourcePart)) + path;
  std::vector<std::string_view> steps;
  std::string_view rest = path;
  while (!rest.empty()) {
    const std::size_t slash = rest.find('/');
    const std::string_view step = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (step.empty() || step == ".") continue;
    if (step == "..") {
      if (steps.empty()) return std::nullopt;  // above the package's root
      steps.pop_back();
      continue;
    }
    steps.push_back(step);
  }
  if (steps.empty()) return std::nullopt;
  std::string part;
  for (const std::string_view step : steps) {
    if (!part.empty()) part += '/';
    part.append(step);
  }
  return part;
}

std::string RelationshipsPartOf(std::string_view part) {
  const std::string_view folder = FolderOf(part);
  return std::string(folder) + "_rels/" + std::string(part.substr(folder.size())) + ".rels";
}

}  // namespace corvane

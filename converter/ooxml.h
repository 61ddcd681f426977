#pragma once
// The structure of an Office Open XML package (.docx, .xlsx, .pptx, their
// macro-enabled and template forms, Transitional or Strict): [Content_Types].xml
// gives each part its content type, and each part's relationships (the package's
// own in _rels/.rels, a part's in FOLDER/_rels/NAME.rels) name the parts it
// refers to. Part names here are as the zip archive stores them: no leading "/",
// "/" between folders.

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "converter/xml_reader.h"

namespace corvane {

/// Where the package keeps the content types of its parts.
inline constexpr std::string_view ContentTypesPart = "[Content_Types].xml";

/// One relationship of a relationships part.
struct TRelationship {
  std::string Id;
  std::string Type;       ///< a URI whose last step says what the target is ("officeDocument", "image")
  std::string Target;     ///< a URI reference, relative to the source part's folder
  bool External = false;  ///< TargetMode="External": a resource outside the package
};

/// The relationships of a relationships part, in their order.
std::optional<TXmlFault> ReadRelationships(std::string_view text, std::vector<TRelationship>& relationships);

/// True when the relationship is of the kind ("officeDocument", "image", ...):
/// the last step of its type, under the namespace of either form of the format
/// (or of the office suite's own extensions), compared without regard to case.
bool IsRelationship(const TRelationship& relationship, std::string_view kind);

/// The content types of a package's parts, by PartNameKey; of two entries for one
/// name the first counts.
struct TContentTypes {
  std::unordered_map<std::string, std::string> Defaults;   ///< extension, type
  std::unordered_map<std::string, std::string> Overrides;  ///< part name ("/word/document.xml"), type
  /// The part's content type: its override, else the default of its extension
  /// (both compared without regard to ASCII case); empty when neither is given.
  std::string Of(std::string_view part) const;
};

std::optional<TXmlFault> ReadContentTypes(std::string_view text, TContentTypes& types);

/// The relationship id (r:id) of the workbook's first sheet, in the workbook's
/// own order of its sheets; empty when the workbook names no sheet.
std::optional<TXmlFault> ReadFirstSheetId(std::string_view workbook, std::string& id);

/// The part a relationship target names, resolved against the folder of its
/// source part (empty for the package's own relationships): percent-escapes
/// decoded, "." and ".." steps folded. Nothing when the target leaves the package
/// (a URI with a scheme, a ".." above its root) or names no part.
std::optional<std::string> ResolvePartName(std::string_view sourcePart, std::string_view target);

/// The relationships part of a part ("word/document.xml" gives
/// "word/_rels/document.xml.rels"); of the package itself for an empty name.
std::string RelationshipsPartOf(std::string_view part);

/// The form of a part name under which names of one part are equal: ASCII letters
/// in lower case (SamePartName).
std::string PartNameKey(std::string_view part);

/// True when two part names are the same part: they compare without regard to
/// ASCII case.
bool SamePartName(std::string_view a, std::string_view b);

}  // namespace corvane

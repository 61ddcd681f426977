#pragma once
// The small XML parts of office packages (the content types and relationships of
// an Office Open XML package, its workbook, the manifest of an OpenDocument
// package) read element by element with libxml2. They come from the package, so
// from anywhere: nothing is fetched, no DTD is loaded, and no entity is expanded
// (an attribute's value is its text without any entity reference in it).

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

/// One attribute of a start tag.
struct TXmlAttribute {
  std::string LocalName;   ///< the name without its prefix
  bool Qualified = false;  ///< the name has a prefix (a namespace of its own)
  std::string Value;
};

/// One start tag, as the reader meets it in document order.
struct TXmlElement {
  std::string LocalName;  ///< the name without its prefix, whatever prefix a producer bound
  int Depth = 0;          ///< 0 for the root element
  std::vector<TXmlAttribute> Attributes;

  /// The value of the attribute of that local name without a prefix (with one,
  /// when qualified); nothing when the tag has none.
  const std::string* Attribute(std::string_view localName, bool qualified = false) const;
};

/// Why a text is no well-formed XML: the parser's message and its line.
struct TXmlFault {
  int Line = 0;
  std::string Message;
};

/// Reads the elements of an XML text in document order and hands each start tag
/// to onElement, which returns false to stop the reading. Returns the fault that
/// ended the reading when the text is not well-formed XML (the elements before it
/// have been handed over), nothing otherwise. Prints nothing, never throws.
std::optional<TXmlFault> ReadXmlElements(std::string_view text,
                                         const std::function<bool(const TXmlElement&)>& onElement);

/// Reads the elements of a text that may be damaged or cut off anywhere, as far
/// as libxml2's recovery makes elements out of it, under the same rules (nothing
/// fetched, no DTD loaded, no entity expanded): each start tag it reads, one that
/// the end of the text cuts off after its name included, goes to onElement in
/// document order until onElement returns false. Elements after the end of the
/// root element, and any when the text begins with something other than markup,
/// are not read. Prints nothing, never throws, never fails.
void ReadDamagedXmlElements(std::string_view text, const std::function<bool(const TXmlElement&)>& onElement);

}  // namespace corvane

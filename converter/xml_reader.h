#pragma once
// The small XML parts of office packages (the content types and relationships of
// an Office Open XML package, its workbook) read element by element with
// libxml2. They come from the package, so from anywhere: nothing is fetched, no
// DTD is loaded, and no entity is expanded (an attribute's value is its text
// without any entity reference in it).

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

}  // namespace corvane

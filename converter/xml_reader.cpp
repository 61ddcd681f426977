#include "converter/xml_reader.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlreader.h>

#include <climits>
#include <memory>

#include "converter/xml_owners.h"

namespace corvane {
namespace {

struct TFreeReader {
  void operator()(xmlTextReaderPtr reader) const { xmlFreeTextReader(reader); }
};

// No network, no DTD loaded or checked, no entity substituted; the messages go
// to the reader's own handler, never to stderr.
constexpr int PartParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

std::string Text(const xmlChar* text) { return text != nullptr ? reinterpret_cast<const char*>(text) : ""; }

// The name after its prefix. A prefix that no namespace declaration binds stays
// part of the name the parser gives, and is taken off here just the same.
std::string LocalPart(const xmlChar* name) {
  const std::string whole = Text(name);
  const std::size_t colon = whole.rfind(':');
  return colon == std::string::npos ? whole : whole.substr(colon + 1);
}

// The attribute's value from its text alone: an entity reference of the
// document's own DTD stays out instead of being expanded.
std::string AttributeText(const xmlAttr& attribute) {
  std::string value;
  for (const xmlNode* child = attribute.children; child != nullptr; child = child->next) {
    if (child->type == XML_TEXT_NODE) value += Text(child->content);
  }
  return value;
}

// The element as the reader hands it on, at its depth below the root.
TXmlElement ElementOf(const xmlNode& node, int depth) {
  TXmlElement element;
  element.LocalName = LocalPart(node.name);
  element.Depth = depth;
  for (const xmlAttr* attribute = node.properties; attribute != nullptr; attribute = attribute->next) {
    const std::string name = Text(attribute->name);
    element.Attributes.push_back({LocalPart(attribute->name),
                                  attribute->ns != nullptr || name.find(':') != std::string::npos,
                                  AttributeText(*attribute)});
  }
  return element;
}

}  // namespace

const std::string* TXmlElement::Attribute(std::string_view localName, bool qualified) const {
  for (const TXmlAttribute& attribute : Attributes) {
    if (attribute.LocalName == localName && attribute.Qualified == qualified) return &attribute.Value;
  }
  return nullptr;
}

std::optional<TXmlFault> ReadXmlElements(std::string_view text,
                                         const std::function<bool(const TXmlElement&)>& onElement) {
  if (text.size() > static_cast<std::size_t>(INT_MAX)) return TXmlFault{0, "the part is too large"};
  xmlInitParser();
  std::unique_ptr<xmlTextReader, TFreeReader> reader(
      xmlReaderForMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr, PartParseOptions));
  if (!reader) return TXmlFault{0, "out of memory"};
  TXmlFaultLog log;
  xmlTextReaderSetStructuredErrorHandler(reader.get(), &TXmlFaultLog::Take, &log);
  int status;
  while ((status = xmlTextReaderRead(reader.get())) == 1) {
    if (xmlTextReaderNodeType(reader.get()) != XML_READER_TYPE_ELEMENT) continue;
    const xmlNode* node = xmlTextReaderCurrentNode(reader.get());
    if (node == nullptr) continue;
    if (!onElement(ElementOf(*node, xmlTextReaderDepth(reader.get())))) return std::nullopt;
  }
  if (status == 0) return std::nullopt;
  return log.First.value_or(TXmlFault{0, "the text is not well-formed XML"});
}

void ReadDamagedXmlElements(std::string_view text, const std::function<bool(const TXmlElement&)>& onElement) {
  if (text.size() > static_cast<std::size_t>(INT_MAX)) return;
  xmlInitParser();
  TXmlParser parser(xmlNewParserCtxt());
  if (!parser) return;
  // The reader above gives up at the first fault, with the elements of the
  // chunks before it; recovery goes on and keeps what it could make of each
  // element, so the whole text is parsed into a tree first and walked after.
  parser->sax->serror = [](void*, xmlErrorPtr) {};
  TXmlDoc doc(xmlCtxtReadMemory(parser.get(), text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                                PartParseOptions | XML_PARSE_RECOVER));
  if (!doc) return;
  // Element by element in document order, without recursion: only elements are
  // entered, never the declarations of a DTD or an entity's content.
  int depth = 0;
  for (const xmlNode* node = doc->children; node != nullptr;) {
    if (node->type == XML_ELEMENT_NODE) {
      if (!onElement(ElementOf(*node, depth))) return;
      if (node->children != nullptr) {
        node = node->children;
        ++depth;
        continue;
      }
    }
    while (node->next == nullptr && depth > 0) {
      node = node->parent;
      --depth;
    }
    node = node->next;
  }
}

}  // namespace corvane

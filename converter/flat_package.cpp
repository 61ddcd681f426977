#include "converter/flat_package.h"

#include <libxml/HTMLparser.h>
#include <libxml/SAX2.h>
#include <libxml/entities.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>
#include <utility>

#include "converter/ooxml.h"
#include "converter/xml_owners.h"
#include "platform/utf8.h"

namespace corvane {
namespace {

constexpr const char* OfficeNamespace = "urn:oasis:names:tc:opendocument:xmlns:office:1.0";
constexpr const char* StyleNamespace = "urn:oasis:names:tc:opendocument:xmlns:style:1.0";

// The envelope of Flat OPC puts a part's root three elements down; libxml2 reads
// no deeper than 256 elements without being told to, and neither may the reader
// of the flat document have to.
constexpr int FlatOpcMaxPartDepth = 256 - 3;

// No network, no DTD loaded or checked, no entity substituted (the amplification
// limits of libxml2 stay on); the messages go to the part's own log.
constexpr int PartParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

const xmlChar* Chars(const char* text) { return reinterpret_cast<const xmlChar*>(text); }
const xmlChar* Chars(const std::string& text) { return Chars(text.c_str()); }
std::string Text(const xmlChar* text) { return text != nullptr ? reinterpret_cast<const char*>(text) : ""; }

// ---- Characters ------------------------------------------------------------------------

bool IsXmlCharacter(std::uint32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

std::string Utf8Of(std::uint32_t c) {
  std::string bytes;
  platform::AppendUtf8(bytes, c);
  return bytes;
}

// A name or type from the package as an attribute's value can carry it: a byte
// that is no part of UTF-8, and a character that XML allows nowhere (not even as
// a reference), become U+FFFD, so that the flat document stays well-formed.
std::string XmlSafe(std::string_view text) {
  std::string safe;
  safe.reserve(text.size());
  while (!text.empty()) {
    const platform::TUtf8Character character = platform::DecodeUtf8(text, 0);
    const bool allowed = character.WellFormed && IsXmlCharacter(character.CodePoint);
    safe.append(allowed ? text.substr(0, character.Length) : std::string_view("\xEF\xBF\xBD"));
    text.remove_prefix(character.Length);
  }
  return safe;
}

std::string_view Trimmed(std::string_view text) {
  constexpr std::string_view space = " \t\r\n";
  const std::size_t first = text.find_first_not_of(space);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(space) - first + 1);
}

// libxml2 tells of a part's bytes that its encoding cannot convert, and of a
// failure to write, through its generic handler for the thread, which prints
// them; for as long as a flat document is being made they go nowhere, and the
// handler the thread had comes back after.
class TQuietGenericErrors {
 public:
  TQuietGenericErrors() : previous_(xmlGenericError), previousContext_(xmlGenericErrorContext) {
    xmlSetGenericErrorFunc(nullptr, &Ignore);
  }
  ~TQuietGenericErrors() { xmlSetGenericErrorFunc(previousContext_, previous_); }
  TQuietGenericErrors(const TQuietGenericErrors&) = delete;
  TQuietGenericErrors& operator=(const TQuietGenericErrors&) = delete;

 private:
  static void Ignore(void*, const char*, ...) {}

  xmlGenericErrorFunc previous_;
  void* previousContext_;
};

// ---- Parsing a part --------------------------------------------------------------------

// The parser hands its messages to the context's own handler with the context,
// which carries the log.
void TakeFault(void* context, xmlErrorPtr error) {
  static_cast<TXmlFaultLog*>(static_cast<xmlParserCtxtPtr>(context)->_private)->Record(error);
}

// An entity the part's own DTD declares, else, outside the DTD, a name of HTML's
// named characters: an XHTML chapter names them whether or not its DOCTYPE names
// the XHTML DTD, which is never loaded. Such a name is declared in the part's
// internal subset as the character, so that the parser keeps a reference to it in
// the tree (and in an attribute's value) instead of failing over it.
xmlEntityPtr EntityOrHtmlCharacter(void* context, const xmlChar* name) {
  xmlEntityPtr entity = xmlSAX2GetEntity(context, name);
  const auto parser = static_cast<xmlParserCtxtPtr>(context);
  if (entity != nullptr || parser->inSubset != 0 || parser->myDoc == nullptr) return entity;
  const htmlEntityDesc* character = htmlEntityLookup(name);
  if (character == nullptr) return nullptr;
  if (parser->myDoc->intSubset == nullptr && xmlCreateIntSubset(parser->myDoc, nullptr, nullptr, nullptr) == nullptr) {
    return nullptr;
  }
  return xmlAddDocEntity(parser->myDoc, name, XML_INTERNAL_GENERAL_ENTITY, nullptr, nullptr,
                         Chars(Utf8Of(character->value)));
}

// An entity reference becomes the HTML character of its name as text, else goes:
// no entity of a DTD is expanded.
void ReplaceReference(xmlNode* reference) {
  const htmlEntityDesc* character = htmlEntityLookup(reference->name);
  xmlNode* text = character != nullptr ? xmlNewDocText(reference->doc, Chars(Utf8Of(character->value))) : nullptr;
  if (text != nullptr) {
    xmlReplaceNode(reference, text);
  } else {
    xmlUnlinkNode(reference);
  }
  xmlFreeNode(reference);
}

void ReplaceReferencesOfAttributes(xmlNode* element) {
  for (xmlAttr* attribute = element->properties; attribute != nullptr; attribute = attribute->next) {
    for (xmlNode* node = attribute->children; node != nullptr;) {
      xmlNode* next = node->next;
      if (node->type == XML_ENTITY_REF_NODE) ReplaceReference(node);
      node = next;
    }
  }
}

// True when a namespace name can be written back as it was read. libxml2 keeps
// a reference in a declaration's value ("&nbsp;") as its bytes and writes them
// unescaped, which no reader could read again; no real namespace name holds one.
bool WritableNamespaces(const xmlNode& element) {
  for (const xmlNs* ns = element.nsDef; ns != nullptr; ns = ns->next) {
    const std::string href = Text(ns->href);
    if (href.find_first_of("&<\"") != std::string::npos) return false;
  }
  return true;
}

// Replaces every entity reference below the root, without recursion and without
// entering an entity's content. Returns the depth of the deepest element (1 for
// the root alone), or 0 when a namespace name cannot be written back.
int ReplaceReferences(xmlNode* root) {
  int depth = 1;
  int deepest = 1;
  for (xmlNode* node = root; node != nullptr;) {
    xmlNode* next = nullptr;
    if (node->type == XML_ELEMENT_NODE) {
      if (!WritableNamespaces(*node)) return 0;
      deepest = std::max(deepest, depth);
      ReplaceReferencesOfAttributes(node);
      if (node->children != nullptr) {
        next = node->children;
        ++depth;
      }
    }
    if (next == nullptr) {
      xmlNode* up = node;
      while (up != root && up->next == nullptr) {
        up = up->parent;
        --depth;
      }
      next = up != root ? up->next : nullptr;
    }
    if (node->type == XML_ENTITY_REF_NODE) ReplaceReference(node);
    node = next;
  }
  return deepest;
}

std::string Describe(const TXmlFault& fault) {
  std::string reason = "not well-formed XML";
  if (!fault.Message.empty()) reason += ": " + fault.Message;
  if (fault.Line > 0) reason += " (line " + std::to_string(fault.Line) + ")";
  return reason;
}

// The tree of a part, entity references replaced; nothing, with the fault, when
// the part is not well-formed XML, or, unless unboundPrefixes, uses a prefix that
// no declaration binds. depth is its deepest element's.
TXmlDoc ParsePart(std::string_view text, TXmlFault& fault, int& depth, bool unboundPrefixes = false) {
  if (text.size() > static_cast<std::size_t>(INT_MAX)) {
    fault = TXmlFault{0, "the part is too large"};
    return nullptr;
  }
  xmlInitParser();
  const TQuietGenericErrors quiet;
  TXmlParser parser(xmlNewParserCtxt());
  if (!parser || parser->sax == nullptr) {
    fault = TXmlFault{0, "out of memory"};
    return nullptr;
  }
  TXmlFaultLog log;
  parser->_private = &log;
  parser->sax->serror = &TakeFault;
  parser->sax->getEntity = &EntityOrHtmlCharacter;
  TXmlDoc doc(
      xmlCtxtReadMemory(parser.get(), text.data(), static_cast<int>(text.size()), nullptr, nullptr, PartParseOptions));
  // A prefix bound to no namespace is only an error to libxml2, but would make a
  // flat document of the part unreadable with namespaces.
  const bool prefixesBound = parser->nsWellFormed != 0 || unboundPrefixes;
  if (!doc || parser->wellFormed == 0 || !prefixesBound || xmlDocGetRootElement(doc.get()) == nullptr) {
    fault = log.First.value_or(TXmlFault{0, ""});
    return nullptr;
  }
  depth = ReplaceReferences(xmlDocGetRootElement(doc.get()));
  if (depth == 0) {
    fault = TXmlFault{0, "a namespace name holds an entity reference"};
    return nullptr;
  }
  return doc;
}

TXmlDoc ParsePart(std::string_view text, TXmlFault& fault, bool unboundPrefixes = false) {
  int depth = 0;
  return ParsePart(text, fault, depth, unboundPrefixes);
}

// ---- Building the flat document --------------------------------------------------------

std::string Serialized(xmlDoc* doc) {
  const TQuietGenericErrors quiet;
  xmlChar* bytes = nullptr;
  int size = 0;
  xmlDocDumpMemoryEnc(doc, &bytes, &size, "UTF-8");
  const TXmlString owner(bytes);
  return bytes != nullptr && size > 0 ? std::string(reinterpret_cast<const char*>(bytes), size) : std::string();
}

void SetFilesBase(xmlNode* root, std::string_view filesBase) {
  if (filesBase.empty()) return;
  xmlNs* xmlNamespace = xmlSearchNs(root->doc, root, Chars("xml"));
  if (xmlNamespace != nullptr) xmlSetNsProp(root, xmlNamespace, Chars("base"), Chars(XmlSafe(filesBase)));
}

// A new document whose root element is NAME in the namespace of the prefix.
TXmlDoc NewFlatDocument(const char* prefix, const char* name, const char* href, xmlNs*& ns) {
  TXmlDoc doc(xmlNewDoc(Chars("1.0")));
  xmlNode* root = doc ? xmlNewDocNode(doc.get(), nullptr, Chars(name), nullptr) : nullptr;
  if (root == nullptr) return nullptr;
  xmlDocSetRootElement(doc.get(), root);
  ns = xmlNewNs(root, Chars(href), Chars(prefix));
  if (ns == nullptr) return nullptr;
  xmlSetNs(root, ns);
  return doc;
}

// One pkg:part holding a copy of the part's root with its own declarations.
bool AddFlatPart(xmlNode* package, xmlNs* pkg, const TFlatPart& part, xmlNode* partRoot) {
  xmlNode* copy = xmlDocCopyNode(partRoot, package->doc, 1);
  if (copy == nullptr) return false;
  xmlNode* element = xmlNewChild(package, pkg, Chars("part"), nullptr);
  xmlNode* data = element != nullptr ? xmlNewChild(element, pkg, Chars("xmlData"), nullptr) : nullptr;
  if (data == nullptr) {
    xmlFreeNode(copy);
    return false;
  }
  // Set through the tree, so that quotes and ampersands of a name are escaped.
  xmlNewNsProp(element, pkg, Chars("name"), Chars(XmlSafe("/" + part.Name)));
  if (!part.ContentType.empty()) xmlNewNsProp(element, pkg, Chars("contentType"), Chars(XmlSafe(part.ContentType)));
  xmlAddChild(data, copy);
  return true;
}

}  // namespace

std::string BuildFlatOpc(const std::vector<TFlatPart>& parts, std::string_view filesBase,
                         std::vector<TFlatProblem>& skipped) {
  xmlInitParser();
  xmlNs* pkg = nullptr;
  const std::string pkgNamespace(FlatOpcNamespace);
  TXmlDoc flat = NewFlatDocument("pkg", "package", pkgNamespace.c_str(), pkg);
  if (!flat) return {};
  xmlNode* package = xmlDocGetRootElement(flat.get());
  SetFilesBase(package, filesBase);
  for (const TFlatPart& part : parts) {
    TXmlFault fault;
    int depth = 0;
    const TXmlDoc doc = ParsePart(part.Text, fault, depth);
    if (!doc) {
      skipped.push_back({part.Name, Describe(fault)});
    } else if (depth > FlatOpcMaxPartDepth) {
      skipped.push_back({part.Name, "its elements are nested too deeply"});
    } else if (!AddFlatPart(package, pkg, part, xmlDocGetRootElement(doc.get()))) {
      skipped.push_back({part.Name, "out of memory"});
    }
  }
  return Serialized(flat.get());
}

namespace {

// ---- Flat OpenDocument -----------------------------------------------------------------

bool IsOfficeElement(const xmlNode* node, const char* localName) {
  return node != nullptr && node->type == XML_ELEMENT_NODE && node->ns != nullptr &&
         xmlStrEqual(node->ns->href, Chars(OfficeNamespace)) && xmlStrEqual(node->name, Chars(localName));
}

const xmlNode* OfficeChild(const xmlNode* parent, const char* localName) {
  if (parent == nullptr) return nullptr;
  for (const xmlNode* child = parent->children; child != nullptr; child = child->next) {
    if (IsOfficeElement(child, localName)) return child;
  }
  return nullptr;
}

// A part of the flat document: its tree, and its root when it is the right one.
struct TOdfPart {
  TXmlDoc Doc;
  const xmlNode* Root = nullptr;
};

// The part read, or nothing (with the reason) when it is not well-formed or its
// root is not office:ROOTNAME. A part the package lacks gives nothing.
TOdfPart ReadOdfPart(std::string_view text, const char* rootName, std::string& reason) {
  TOdfPart part;
  if (text.empty()) return part;
  TXmlFault fault;
  part.Doc = ParsePart(text, fault);
  if (!part.Doc) {
    reason = Describe(fault);
    return part;
  }
  part.Root = xmlDocGetRootElement(part.Doc.get());
  if (!IsOfficeElement(part.Root, rootName)) {
    reason = std::string("its root is not office:") + rootName;
    part.Root = nullptr;
  }
  return part;
}

TOdfPart ReadOptionalOdfPart(std::string_view text, const char* name, const char* rootName,
                             std::vector<TFlatProblem>& skipped) {
  std::string reason;
  TOdfPart part = ReadOdfPart(text, rootName, reason);
  if (!reason.empty()) skipped.push_back({name, reason});
  return part;
}

// The flat document as it grows: its root, and the namespaces the root declares
// by prefix (":" for the default namespace, which no prefix can be).
class TFlatOdf {
 public:
  TFlatOdf(xmlNode* root, xmlNs* office) : root_(root), office_(office) {
    declared_.emplace(PrefixKey(office->prefix), office);
  }

  // Every namespace the parts' roots declare (the first to declare a prefix
  // keeps it), office:mimetype, content.xml's office:version and the xml:base.
  void DescribeRoot(const std::vector<const TOdfPart*>& parts, std::string_view mimetype, std::string_view filesBase) {
    xmlNs* last = office_;
    for (const TOdfPart* part : parts) {
      for (const xmlNs* ns = part->Root != nullptr ? part->Root->nsDef : nullptr; ns != nullptr; ns = ns->next) {
        if (declared_.count(PrefixKey(ns->prefix)) != 0) continue;
        xmlNs* declaration = xmlNewNs(nullptr, ns->href, ns->prefix);  // nothing for "xml"
        if (declaration == nullptr) continue;
        last->next = declaration;
        last = declaration;
        declared_.emplace(PrefixKey(ns->prefix), declaration);
      }
    }
    const TXmlString version(xmlGetNsProp(parts.front()->Root, Chars("version"), Chars(OfficeNamespace)));
    if (version) xmlNewNsProp(root_, office_, Chars("version"), version.get());
    mimetype = Trimmed(mimetype);
    if (!mimetype.empty()) xmlNewNsProp(root_, office_, Chars("mimetype"), Chars(XmlSafe(mimetype)));
    SetFilesBase(root_, filesBase);
  }

  // The part's section NAME, copied whole.
  void CopySection(const TOdfPart& part, const char* name) {
    if (const xmlNode* section = OfficeChild(part.Root, name)) AppendCopy(root_, section);
  }

  // One section of both parts' children: content.xml's first. With byName, a
  // child of styles.xml whose style:name content.xml has already is left out.
  void MergeSection(const TOdfPart& content, const TOdfPart& styles, const char* name, bool byName) {
    const xmlNode* first = OfficeChild(content.Root, name);
    const xmlNode* second = OfficeChild(styles.Root, name);
    if (first == nullptr && second == nullptr) return;
    xmlNode* section = xmlNewChild(root_, office_, Chars(name), nullptr);
    if (section == nullptr) return;
    std::set<std::string> names;
    for (const xmlNode* child = first != nullptr ? first->children : nullptr; child != nullptr; child = child->next) {
      if (byName && child->type == XML_ELEMENT_NODE) names.insert(StyleNameOf(child));
      AppendCopy(section, child);
    }
    for (const xmlNode* child = second != nullptr ? second->children : nullptr; child != nullptr; child = child->next) {
      if (byName && child->type == XML_ELEMENT_NODE && names.count(StyleNameOf(child)) != 0) continue;
      AppendCopy(section, child);
    }
  }

 private:
  static std::string PrefixKey(const xmlChar* prefix) { return prefix != nullptr ? Text(prefix) : ":"; }

  static std::string StyleNameOf(const xmlNode* node) {
    const TXmlString name(xmlGetNsProp(node, Chars("name"), Chars(StyleNamespace)));
    return Text(name.get());
  }

  void AppendCopy(xmlNode* parent, const xmlNode* node) {
    xmlNode* copy = xmlDocCopyNode(const_cast<xmlNode*>(node), parent->doc, 1);
    if (copy == nullptr) return;
    const bool element = copy->type == XML_ELEMENT_NODE;
    // A text after a text is merged into it, and the copy is gone.
    xmlNode* added = xmlAddChild(parent, copy);
    if (added == nullptr) {
      xmlFreeNode(copy);
    } else if (element) {
      DropRepeatedDeclarations(added);
    }
  }

  // A copied element declares on itself every namespace that it and its
  // descendants use from outside it. The declarations that the root makes alike
  // go, their users taking the root's, so that each prefix stays declared once,
  // on the root, as in the parts.
  void DropRepeatedDeclarations(xmlNode* copy) {
    std::map<const xmlNs*, xmlNs*> repeated;  // the copy's declaration, the root's
    for (xmlNs** link = &copy->nsDef; *link != nullptr;) {
      xmlNs* ns = *link;
      const auto root = declared_.find(PrefixKey(ns->prefix));
      if (root != declared_.end() && xmlStrEqual(root->second->href, ns->href)) {
        *link = ns->next;
        repeated.emplace(ns, root->second);
      } else {
        link = &ns->next;
      }
    }
    if (repeated.empty()) return;
    const auto rootsOwn = [&](xmlNs* ns) {
      const auto root = repeated.find(ns);
      return root != repeated.end() ? root->second : ns;
    };
    for (xmlNode* node = copy; node != nullptr;) {
      if (node->type == XML_ELEMENT_NODE) {
        node->ns = rootsOwn(node->ns);
        for (xmlAttr* attribute = node->properties; attribute != nullptr; attribute = attribute->next) {
          attribute->ns = rootsOwn(attribute->ns);
        }
        if (node->children != nullptr) {
          node = node->children;
          continue;
        }
      }
      while (node != copy && node->next == nullptr) node = node->parent;
      node = node != copy ? node->next : nullptr;
    }
    for (const auto& [copied, roots] : repeated) {
      const_cast<xmlNs*>(copied)->next = nullptr;
      xmlFreeNs(const_cast<xmlNs*>(copied));
    }
  }

  xmlNode* root_;
  xmlNs* office_;
  std::map<std::string, xmlNs*> declared_;
};

}  // namespace

std::optional<std::string> BuildFlatOdf(const TOdfParts& parts, std::string_view filesBase,
                                        std::vector<TFlatProblem>& skipped, TFlatProblem& failure) {
  xmlInitParser();
  std::string reason = "the package has no content.xml";
  const TOdfPart content = ReadOdfPart(parts.Content, "document-content", reason);
  if (content.Root == nullptr) {
    failure = {"content.xml", reason};
    return std::nullopt;
  }
  const TOdfPart styles = ReadOptionalOdfPart(parts.Styles, "styles.xml", "document-styles", skipped);
  const TOdfPart meta = ReadOptionalOdfPart(parts.Meta, "meta.xml", "document-meta", skipped);
  const TOdfPart settings = ReadOptionalOdfPart(parts.Settings, "settings.xml", "document-settings", skipped);
  xmlNs* office = nullptr;
  TXmlDoc flat = NewFlatDocument("office", "document", OfficeNamespace, office);
  if (!flat) {
    failure = {"content.xml", "out of memory"};
    return std::nullopt;
  }
  TFlatOdf builder(xmlDocGetRootElement(flat.get()), office);
  builder.DescribeRoot({&content, &styles, &meta, &settings}, parts.Mimetype, filesBase);
  builder.CopySection(meta, "meta");
  builder.CopySection(settings, "settings");
  builder.CopySection(content, "scripts");
  builder.MergeSection(content, styles, "font-face-decls", true);
  builder.CopySection(styles, "styles");
  builder.MergeSection(content, styles, "automatic-styles", false);
  builder.CopySection(styles, "master-styles");
  builder.CopySection(content, "body");
  return Serialized(flat.get());
}

// ---- EPUB ------------------------------------------------------------------------------

std::optional<std::string> ReadEpubRootfile(std::string_view container) {
  std::optional<std::string> first;
  std::optional<std::string> package;
  xmlInitParser();
  const TQuietGenericErrors quiet;
  const auto fault = ReadXmlElements(container, [&](const TXmlElement& element) {
    const std::string* path = element.LocalName == "rootfile" ? element.Attribute("full-path") : nullptr;
    const auto part = path != nullptr ? ResolvePartName("", *path) : std::nullopt;
    if (!part) return true;
    if (!first) first = part;
    const std::string* type = element.Attribute("media-type");
    if (!package && type != nullptr && Trimmed(*type) == "application/oebps-package+xml") package = part;
    return true;
  });
  if (fault) return std::nullopt;
  return package ? package : first;
}

namespace {

// The value of the attribute of that name without a namespace; empty when none.
std::string AttributeOf(const xmlNode* element, const char* name) {
  for (const xmlAttr* attribute = element->properties; attribute != nullptr; attribute = attribute->next) {
    if (attribute->ns != nullptr || !xmlStrEqual(attribute->name, Chars(name))) continue;
    std::string value;
    for (const xmlNode* child = attribute->children; child != nullptr; child = child->next) {
      if (child->type == XML_TEXT_NODE) value += Text(child->content);
    }
    return value;
  }
  return {};
}

bool HasWord(std::string_view words, std::string_view word) {
  constexpr std::string_view space = " \t\r\n";
  while (!words.empty()) {
    const std::size_t start = words.find_first_not_of(space);
    if (start == std::string_view::npos) break;
    words.remove_prefix(start);
    const std::size_t end = std::min(words.find_first_of(space), words.size());
    if (words.substr(0, end) == word) return true;
    words.remove_prefix(end);
  }
  return false;
}

// What the package document says, as its elements come.
struct TPackageReading {
  std::unordered_map<std::string, std::size_t> ItemOfId;  // the first item of each id
  std::vector<std::string> SpineIds;
  std::string CoverId;  // of an EPUB 2 <meta name="cover" content="ID"/>
  bool TitleRead = false;

  void Take(const xmlNode* element, std::string_view opfPart, TEpubBook& book) {
    // By local name, whatever prefix a producer bound, or failed to bind.
    std::string_view name = reinterpret_cast<const char*>(element->name);
    if (const std::size_t colon = name.rfind(':'); colon != std::string_view::npos) name.remove_prefix(colon + 1);
    if (name == "title" && !TitleRead) {
      const TXmlString text(xmlNodeGetContent(element));
      book.Title = std::string(Trimmed(Text(text.get())));
      TitleRead = true;
    } else if (name == "meta" && CoverId.empty() && AttributeOf(element, "name") == "cover") {
      CoverId = AttributeOf(element, "content");
    } else if (name == "item") {
      TEpubItem item{AttributeOf(element, "id"), "", AttributeOf(element, "media-type"),
                     AttributeOf(element, "properties")};
      const std::string href = AttributeOf(element, "href");
      const auto part = !item.Id.empty() && !href.empty() ? ResolvePartName(opfPart, href) : std::nullopt;
      if (!part) return;
      item.Part = *part;
      ItemOfId.emplace(item.Id, book.Manifest.size());
      book.Manifest.push_back(std::move(item));
    } else if (name == "itemref") {
      SpineIds.push_back(AttributeOf(element, "idref"));
    }
  }

  void Finish(TEpubBook& book) const {
    std::set<std::string> inSpine;
    for (const std::string& id : SpineIds) {
      const auto item = ItemOfId.find(id);
      if (item == ItemOfId.end()) continue;
      const std::string& part = book.Manifest[item->second].Part;
      if (inSpine.insert(part).second) book.Spine.push_back(part);
    }
    for (const TEpubItem& item : book.Manifest) {
      if (HasWord(item.Properties, "cover-image")) {
        book.CoverImage = item.Part;
        return;
      }
    }
    const auto cover = ItemOfId.find(CoverId);
    if (cover != ItemOfId.end()) book.CoverImage = book.Manifest[cover->second].Part;
  }
};

}  // namespace

std::optional<TXmlFault> ReadEpubPackage(std::string_view opf, std::string_view opfPart, TEpubBook& book) {
  TXmlFault fault;
  const TXmlDoc doc = ParsePart(opf, fault, true);
  if (!doc) {
    if (fault.Message.empty()) fault.Message = "the text is not well-formed XML";
    return fault;
  }
  TPackageReading reading;
  xmlNode* root = xmlDocGetRootElement(doc.get());
  for (const xmlNode* node = root; node != nullptr;) {
    if (node->type == XML_ELEMENT_NODE) {
      reading.Take(node, opfPart, book);
      if (node->children != nullptr) {
        node = node->children;
        continue;
      }
    }
    while (node != root && node->next == nullptr) node = node->parent;
    node = node != root ? node->next : nullptr;
  }
  reading.Finish(book);
  return std::nullopt;
}

}  // namespace corvane

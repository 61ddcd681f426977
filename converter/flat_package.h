#pragma once
// The flat form of a package: the whole package as one XML document, for the
// templates that need more than its main part (a workbook's shared strings and
// sheets, a presentation's slides, a book's chapters in reading order, a
// document's styles and numbering). The forms are the formats' own:
// - Office Open XML: the Flat OPC package, pkg:package with one pkg:part per XML
//   part (pkg:name "/word/document.xml", pkg:contentType), the part's root
//   element inside pkg:xmlData, in the package's order;
// - OpenDocument: the flat document office:document, the children of the roots
//   of meta.xml, settings.xml, styles.xml and content.xml merged in the format's
//   order (meta, settings, scripts, font faces, styles, automatic styles, master
//   styles, body);
// - EPUB takes the Flat OPC envelope: its container, its package document, then
//   the documents of its spine in reading order.
// Binary parts (pictures) never go into it: they are written as files below the
// folder that the root's xml:base names ("report_files/"), at their part names.
// Every part comes from the package, so from anywhere: nothing is fetched, no DTD
// is loaded and no entity of a DTD is expanded.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "converter/xml_reader.h"

namespace corvane {

/// The namespace of the Flat OPC package form.
inline constexpr std::string_view FlatOpcNamespace = "http://schemas.microsoft.com/office/2006/xmlPackage";

/// One XML part that goes into a Flat OPC document.
struct TFlatPart {
  std::string Name;         ///< the part name as stored: no leading "/", "/" between folders
  std::string ContentType;  ///< as the package gives it; empty when it gives none
  std::string Text;         ///< the part's bytes as stored
};

/// A part left out of a flat document, and why (a phrase for the user).
struct TFlatProblem {
  std::string Part;
  std::string Reason;
};

/// The Flat OPC document of the parts, in the order given: each part parsed and
/// its root element put into its pkg:part's pkg:xmlData. A reference to an entity
/// that XML does not predefine and no DTD of the part declares internally is one
/// of HTML's named characters (an XHTML book's "&nbsp;"), written as that
/// character, or dropped. A part that is not well-formed XML is left out and named
/// in skipped. A non-empty filesBase becomes the root's xml:base. The document's
/// bytes: UTF-8, with an XML declaration.
std::string BuildFlatOpc(const std::vector<TFlatPart>& parts, std::string_view filesBase,
                         std::vector<TFlatProblem>& skipped);

/// The parts of an OpenDocument package that its flat form is made of; an empty
/// text stands for a part the package lacks.
struct TOdfParts {
  std::string Mimetype;  ///< the text of the package's mimetype entry
  std::string Content;   ///< content.xml, which must be there
  std::string Styles;
  std::string Meta;
  std::string Settings;
};

/// The flat OpenDocument of the parts: office:document with office:mimetype and
/// office:version, the namespaces of all parts, their roots' children in the
/// format's order (the automatic styles of content.xml before those of
/// styles.xml, in one office:automatic-styles; the font faces likewise), and a
/// non-empty filesBase as the root's xml:base. Nothing, with failure set, when
/// content.xml is not well-formed; another part that is not is left out and named
/// in skipped.
std::optional<std::string> BuildFlatOdf(const TOdfParts& parts, std::string_view filesBase,
                                        std::vector<TFlatProblem>& skipped, TFlatProblem& failure);

/// Where META-INF/container.xml of an EPUB book puts its package document: the
/// full-path of its first rootfile of media type application/oebps-package+xml
/// (else of its first rootfile), as a part name. Nothing when the container is not
/// well-formed or names none.
std::optional<std::string> ReadEpubRootfile(std::string_view container);

/// One item of an EPUB package document's manifest.
struct TEpubItem {
  std::string Id;
  std::string Part;  ///< its href resolved against the package document's folder
  std::string MediaType;
  std::string Properties;
};

/// What the package document of an EPUB 2 or 3 book says.
struct TEpubBook {
  std::vector<TEpubItem> Manifest;  ///< items whose href stays inside the package
  std::vector<std::string> Spine;   ///< the part names of the spine, in reading order, each once
  std::string CoverImage;           ///< the cover's part (EPUB 3 cover-image, EPUB 2 meta cover); empty when none
  std::string Title;                ///< the first dc:title
};

/// Reads the package document (its part name is opfPart). The fault when it is not
/// well-formed XML; an item without an id or href, an itemref to no item and an
/// href that leaves the package are passed over.
std::optional<TXmlFault> ReadEpubPackage(std::string_view opf, std::string_view opfPart, TEpubBook& book);

}  // namespace corvane

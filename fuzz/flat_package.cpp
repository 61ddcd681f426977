// The flat form of a package over arbitrary parts. The input is split into parts
// at each line "====": a part's first line is its name, the rest its text. All of
// them make a Flat OPC document; the first five are the mimetype, content.xml,
// styles.xml, meta.xml and settings.xml of a flat OpenDocument; the first is an
// EPUB container and the second its package document. Each flat document must be
// namespace-well-formed XML that libxml2 reads without a word of complaint (and
// without being told to read deeper); each part name of a book stays inside it
// and a spine names a part once.

#include "converter/flat_package.h"

#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"

namespace {

void CheckFlatDocument(const std::string& text) {
  xmlParserCtxtPtr parser = xmlNewParserCtxt();
  if (parser == nullptr) return;
  bool complained = false;
  parser->_private = &complained;
  parser->sax->serror = [](void* context, xmlErrorPtr error) {
    if (error != nullptr && error->level >= XML_ERR_ERROR) {
      *static_cast<bool*>(static_cast<xmlParserCtxtPtr>(context)->_private) = true;
    }
  };
  xmlDocPtr doc = xmlCtxtReadMemory(parser, text.data(), static_cast<int>(text.size()), nullptr, nullptr,
                                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
  const bool good = doc != nullptr && !complained && parser->nsWellFormed != 0;
  xmlFreeDoc(doc);
  xmlFreeParserCtxt(parser);
  if (!good) std::abort();
}

std::vector<corvane::TFlatPart> PartsOf(std::string_view input) {
  constexpr std::string_view separator = "\n====\n";
  std::vector<corvane::TFlatPart> parts;
  for (;;) {
    const std::size_t end = input.find(separator);
    const std::string_view chunk = input.substr(0, end);
    const std::size_t newline = chunk.find('\n');
    const std::string_view name = chunk.substr(0, newline);
    const std::string_view text = newline == std::string_view::npos ? std::string_view() : chunk.substr(newline + 1);
    parts.push_back({std::string(name), "application/xml", std::string(text)});
    if (end == std::string_view::npos) return parts;
    input.remove_prefix(end + separator.size());
  }
}

void CheckBook(const std::vector<corvane::TFlatPart>& parts) {
  const auto rootfile = corvane::ReadEpubRootfile(parts[0].Text);
  if (rootfile) fuzzsupport::AbortUnlessInsidePackage(*rootfile);
  if (parts.size() < 2) return;
  corvane::TEpubBook book;
  if (corvane::ReadEpubPackage(parts[1].Text, rootfile.value_or(parts[1].Name), book)) return;
  std::set<std::string> manifest;
  for (const corvane::TEpubItem& item : book.Manifest) {
    fuzzsupport::AbortUnlessInsidePackage(item.Part);
    manifest.insert(item.Part);
  }
  std::set<std::string> spine;
  for (const std::string& part : book.Spine) {
    if (manifest.count(part) == 0 || !spine.insert(part).second) std::abort();
  }
  if (!book.CoverImage.empty() && manifest.count(book.CoverImage) == 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<corvane::TFlatPart> parts = PartsOf(std::string_view(reinterpret_cast<const char*>(data), size));
  std::vector<corvane::TFlatProblem> skipped;
  CheckFlatDocument(corvane::BuildFlatOpc(parts, parts[0].Name, skipped));
  std::string odf[5];
  for (std::size_t i = 0; i < parts.size() && i < 5; ++i) odf[i] = parts[i].Text;
  corvane::TFlatProblem failure;
  if (const auto flat = corvane::BuildFlatOdf({odf[0], odf[1], odf[2], odf[3], odf[4]}, "x_files/", skipped, failure)) {
    CheckFlatDocument(*flat);
  }
  CheckBook(parts);
  return 0;
}

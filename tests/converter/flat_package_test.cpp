// The flat form of a package: Flat OPC, flat OpenDocument and an EPUB book's
// package document.

#include "converter/flat_package.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace corvane;

namespace {

// True when the text is namespace-well-formed XML: a flat document taken as a
// part of another is left out otherwise.
bool ReadsWithNamespaces(const std::string& text) {
  std::vector<TFlatProblem> skipped;
  BuildFlatOpc({{"flat.xml", "", text}}, "", skipped);
  return skipped.empty();
}

const std::string Nbsp = "\xC2\xA0";

}  // namespace

TEST(FlatOpc, PartsWithTheirNamespacesAndABadPartLeftOut) {
  const std::vector<TFlatPart> parts{
      {"_rels/.rels", "application/rels", "<?xml version='1.0'?><Relationships xmlns='urn:r'/>"},
      {"word/bad.xml", "", "<w:document xmlns:w='urn:w'><w:body></w:document>"},
      {"word/a\"&<b.xml", "", "<w:document xmlns:w='urn:w'><w:t xml:space='preserve'> two &amp; </w:t></w:document>"}};
  std::vector<TFlatProblem> skipped;
  const std::string flat = BuildFlatOpc(parts, "my report_files/", skipped);
  EXPECT_TRUE(ReadsWithNamespaces(flat));
  EXPECT_EQ(flat,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<pkg:package xmlns:pkg=\"http://schemas.microsoft.com/office/"
            "2006/xmlPackage\" xml:base=\"my report_files/\"><pkg:part pkg:name=\"/_rels/.rels\" pkg:contentType=\""
            "application/rels\"><pkg:xmlData><Relationships xmlns=\"urn:r\"/></pkg:xmlData></pkg:part><pkg:part "
            "pkg:name=\"/word/a&quot;&amp;&lt;b.xml\"><pkg:xmlData><w:document xmlns:w=\"urn:w\"><w:t xml:space=\""
            "preserve\"> two &amp; </w:t></w:document></pkg:xmlData></pkg:part></pkg:package>\n");
  ASSERT_EQ(skipped.size(), 1u);
  EXPECT_EQ(skipped[0].Part, "word/bad.xml");
}

TEST(FlatOpc, HtmlNamedCharactersOfAnXhtmlChapter) {
  const std::string body = "<html xmlns='http://www.w3.org/1999/xhtml'><p title='a&nbsp;b'>c&nbsp;d&eacute;</p></html>";
  const std::string doctype =
      "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.1//EN\" \"http://www.w3.org/TR/xhtml11/DTD/xhtml11.dtd\">";
  for (const std::string& chapter : {doctype + body, "<?xml version='1.0' encoding='utf-8'?>" + body}) {
    std::vector<TFlatProblem> skipped;
    const std::string flat = BuildFlatOpc({{"OEBPS/c.xhtml", "application/xhtml+xml", chapter}}, "", skipped);
    EXPECT_TRUE(skipped.empty()) << chapter;
    EXPECT_TRUE(ReadsWithNamespaces(flat));
    EXPECT_NE(flat.find("<p title=\"a" + Nbsp + "b\">c" + Nbsp + "d\xC3\xA9</p>"), std::string::npos) << flat;
  }
  // A name HTML does not know goes; an unclosed element leaves the chapter out.
  std::vector<TFlatProblem> skipped;
  const std::string flat =
      BuildFlatOpc({{"a.xhtml", "", doctype + "<p>x&bogus;y</p>"}, {"b.xhtml", "", "<p>"}}, "", skipped);
  EXPECT_NE(flat.find("<p>xy</p>"), std::string::npos) << flat;
  ASSERT_EQ(skipped.size(), 1u);
  EXPECT_EQ(skipped[0].Part, "b.xhtml");
}

TEST(FlatOdf, SectionsInOrderAndStylesMerged) {
  const std::string office =
      "xmlns:office='urn:oasis:names:tc:opendocument:xmlns:office:1.0' "
      "xmlns:style='urn:oasis:names:tc:opendocument:xmlns:style:1.0' ";
  TOdfParts parts;
  parts.Mimetype = "application/vnd.oasis.opendocument.text\n";
  parts.Content = "<office:document-content " + office +
                  "xmlns:text='urn:t' office:version='1.3'>"
                  "<office:font-face-decls><style:font-face style:name='A'/></office:font-face-decls>"
                  "<office:automatic-styles><style:style style:name='P1'/></office:automatic-styles>"
                  "<office:body><office:text><text:p text:style-name='P1'>x</text:p></office:text></office:body>"
                  "</office:document-content>";
  parts.Styles = "<office:document-styles " + office +
                 "xmlns:fo='urn:fo'>"
                 "<office:font-face-decls><style:font-face style:name='A'/><style:font-face style:name='B'/>"
                 "</office:font-face-decls><office:styles><style:style fo:color='red'/></office:styles>"
                 "<office:automatic-styles><style:style style:name='MP1'/></office:automatic-styles>"
                 "<office:master-styles/></office:document-styles>";
  parts.Meta = "<office:document-meta " + office + "><office:meta/>";  // cut off
  std::vector<TFlatProblem> skipped;
  TFlatProblem failure;
  const auto flat = BuildFlatOdf(parts, "a_files/", skipped, failure);
  ASSERT_TRUE(flat);
  EXPECT_TRUE(ReadsWithNamespaces(*flat)) << *flat;
  EXPECT_NE(flat->find("office:version=\"1.3\" office:mimetype=\"application/vnd.oasis.opendocument.text\" "
                       "xml:base=\"a_files/\"><office:font-face-decls><style:font-face style:name=\"A\"/>"
                       "<style:font-face style:name=\"B\"/></office:font-face-decls><office:styles><style:style "
                       "fo:color=\"red\"/></office:styles><office:automatic-styles><style:style style:name=\"P1\"/>"
                       "<style:style style:name=\"MP1\"/></office:automatic-styles><office:master-styles/>"
                       "<office:body><office:text><text:p text:style-name=\"P1\">x</text:p></office:text>"
                       "</office:body></office:document>"),
            std::string::npos);
  ASSERT_EQ(skipped.size(), 1u);
  EXPECT_EQ(skipped[0].Part, "meta.xml");
  parts.Content = "<office:document-styles " + office + "/>";
  EXPECT_FALSE(BuildFlatOdf(parts, "", skipped, failure));
  EXPECT_EQ(failure.Part, "content.xml");
}

TEST(EpubPackage, SpineAndCoverOfBothVersions) {
  EXPECT_EQ(ReadEpubRootfile("<container xmlns='urn:oasis:names:tc:opendocument:xmlns:container'><rootfiles>"
                             "<rootfile full-path='x.pdf' media-type='application/pdf'/><rootfile "
                             "full-path='OEBPS/my%20book.opf' media-type='application/oebps-package+xml'/>"
                             "</rootfiles></container>"),
            "OEBPS/my book.opf");
  const auto opf = [](const std::string& metadata, const std::string& imageProperties) {
    return "<package xmlns='http://www.idpf.org/2007/opf'><metadata xmlns:dc='http://purl.org/dc/elements/1.1/'>" +
           metadata +
           "</metadata><manifest><item id='c2' href='Text/two.xhtml'/><item id='c1' href='../Text/one%20a.xhtml'/>"
           "<item id='out' href='../../up.xhtml'/><item id='img' href='i.jpg' " +
           imageProperties +
           "/></manifest><spine><itemref idref='c1'/><itemref idref='nothing'/><itemref idref='c2' linear='no'/>"
           "<itemref idref='c1'/></spine></package>";
  };
  // EPUB 2 names its cover in a meta (here with a prefix nothing binds), EPUB 3 by a property.
  const std::string epub2 =
      opf("<dc:title> A &amp; B </dc:title><dc:title>C</dc:title><opf:meta opf:x='' name='cover' "
          "content='img'/>",
          "");
  for (const std::string& text : {epub2, opf("", "properties='nav cover-image'")}) {
    TEpubBook book;
    ASSERT_FALSE(ReadEpubPackage(text, "OEBPS/content.opf", book));
    EXPECT_EQ(book.Manifest.size(), 3u);
    EXPECT_EQ(book.Spine, (std::vector<std::string>{"Text/one a.xhtml", "OEBPS/Text/two.xhtml"}));
    EXPECT_EQ(book.CoverImage, "OEBPS/i.jpg");
    EXPECT_EQ(book.Title, text == epub2 ? "A & B" : "");
  }
  TEpubBook book;
  EXPECT_TRUE(ReadEpubPackage("<package><manifest>", "content.opf", book));
}

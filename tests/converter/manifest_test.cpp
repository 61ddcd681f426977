// The manifest of an OpenDocument package: which part the office suite encrypted.

#include "converter/manifest.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

using corvane::ManifestMarksEncrypted;

namespace {

// A manifest as an office suite writes it, with the entries given.
std::string Manifest(const std::string& entries, const std::string& prefix = "manifest") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + prefix + ":manifest xmlns:" + prefix +
         "=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\" " + prefix + ":version=\"1.2\">\n" + entries + "</" +
         prefix + ":manifest>\n";
}

const std::string Encrypted =
    " <manifest:file-entry manifest:full-path=\"content.xml\" manifest:media-type=\"text/xml\">\n"
    "  <manifest:encryption-data manifest:checksum-type=\"SHA1/1K\" manifest:checksum=\"a=\">\n"
    "   <manifest:algorithm manifest:algorithm-name=\"Blowfish CFB\"/>\n"
    "  </manifest:encryption-data>\n </manifest:file-entry>\n";
const std::string Plain =
    " <manifest:file-entry manifest:full-path=\"content.xml\" manifest:media-type=\"text/xml\"/>\n";
const std::string EncryptedPicture =
    " <manifest:file-entry manifest:full-path=\"Pictures/a.png\"><manifest:encryption-data/></manifest:file-entry>\n";

TEST(ManifestEncryption, Table) {
  EXPECT_TRUE(ManifestMarksEncrypted(Manifest(Encrypted), "content.xml"));
  EXPECT_FALSE(ManifestMarksEncrypted(Manifest(Encrypted), "styles.xml"));
  EXPECT_FALSE(ManifestMarksEncrypted(Manifest(Plain + EncryptedPicture), "content.xml"));
  EXPECT_TRUE(ManifestMarksEncrypted(Manifest(Plain + EncryptedPicture), "Pictures/a.png"));
  // Another prefix for the same namespace; single quotes, a "./" step.
  EXPECT_TRUE(ManifestMarksEncrypted(
      Manifest("<m:file-entry m:full-path='./content.xml'><m:encryption-data/></m:file-entry>", "m"), "content.xml"));
  // References in the path; a ">" inside a quoted value.
  EXPECT_TRUE(ManifestMarksEncrypted(
      Manifest("<manifest:file-entry manifest:media-type=\"a>b\" manifest:full-path=\"b&amp;&#x41;.fb2\">"
               "<manifest:encryption-data/></manifest:file-entry>"),
      "b&A.fb2"));
  // Only within the part's own entry: not in a comment, not after the entry closed.
  EXPECT_FALSE(ManifestMarksEncrypted(
      Manifest("<manifest:file-entry manifest:full-path=\"content.xml\"><!-- <manifest:encryption-data/> -->"
               "</manifest:file-entry><manifest:encryption-data/>"),
      "content.xml"));
  // Names compare without regard to case only where the file system does.
  const std::string upper = Manifest(
      "<manifest:file-entry manifest:full-path=\"Content.XML\">"
      "<manifest:encryption-data/></manifest:file-entry>");
  EXPECT_FALSE(ManifestMarksEncrypted(upper, "content.xml"));
  EXPECT_TRUE(ManifestMarksEncrypted(upper, "content.xml", true));
  // Text that breaks off anywhere is read as far as it goes.
  const std::string whole = Manifest(Encrypted);
  for (std::size_t cut = 0; cut < whole.size(); ++cut) {
    EXPECT_EQ(ManifestMarksEncrypted(whole.substr(0, cut), "content.xml"),
              cut >= whole.find("encryption-data") + std::string("encryption-data").size())
        << cut;
  }
}

// An old manifest's DOCTYPE names its DTD. Nothing outside the text is read,
// neither the DTD nor an external entity, so no file's markup enters the manifest.
TEST(ManifestEncryption, NothingOutsideTheTextIsRead) {
  const std::filesystem::path fragment = std::filesystem::temp_directory_path() / "corvane-manifest-fragment.xml";
  std::ofstream(fragment) << "<manifest:encryption-data/>";
  const std::string doctype =
      "<!DOCTYPE manifest:manifest PUBLIC \"-//OpenOffice.org//DTD Manifest 1.0//EN\" \"Manifest.dtd\" "
      "[<!ENTITY x SYSTEM \"" +
      fragment.string() + "\">]>\n";
  std::string plain = Manifest("<manifest:file-entry manifest:full-path=\"content.xml\">&x;</manifest:file-entry>");
  std::string encrypted = Manifest(Encrypted);
  plain.insert(plain.find('\n') + 1, doctype);
  encrypted.insert(encrypted.find('\n') + 1, doctype);
  EXPECT_FALSE(ManifestMarksEncrypted(plain, "content.xml"));
  EXPECT_TRUE(ManifestMarksEncrypted(encrypted, "content.xml"));
  std::filesystem::remove(fragment);
}

}  // namespace

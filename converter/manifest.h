#pragma once
// The manifest of an OpenDocument package (META-INF/manifest.xml): one
// manifest:file-entry per part, and inside the entry of a part that the office
// suite encrypted with the document's password, a manifest:encryption-data
// element. The zip layer sees such a part as an ordinary entry, so only the
// manifest tells that its bytes are ciphertext.

#include <string_view>

namespace corvane {

/// True when the manifest text marks the part at partPath ("content.xml", "/"
/// between folders) as encrypted: a file-entry whose full-path names the part
/// holds an encryption-data element. Namespace prefixes are not looked at, only
/// local names. Text that is not a well-formed manifest (one cut off anywhere,
/// above all) is read as far as the XML parser's recovery goes
/// (ReadDamagedXmlElements); it never makes the reading fail. With
/// caseInsensitive, the paths compare without regard to ASCII case (as names do
/// on Windows).
bool ManifestMarksEncrypted(std::string_view manifest, std::string_view partPath, bool caseInsensitive = false);

}  // namespace corvane

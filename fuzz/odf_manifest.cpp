// The reading of an OpenDocument package's manifest over arbitrary bytes: the
// first line is the part's path, the rest the manifest, which libxml2 reads with
// its recovery. The reading must end, stay inside the text and give the same
// verdict for a whole manifest and for that manifest with text after its end.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "converter/manifest.h"
#include "converter/xml_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  const std::size_t newline = all.find('\n');
  const std::string_view part =
      newline == std::string_view::npos ? std::string_view("content.xml") : all.substr(0, newline);
  const std::string_view manifest = newline == std::string_view::npos ? all : all.substr(newline + 1);
  const bool encrypted = corvane::ManifestMarksEncrypted(manifest, part);
  const bool folded = corvane::ManifestMarksEncrypted(manifest, part, true);
  // Without regard to case, more paths match, never fewer.
  if (encrypted && !folded) std::abort();
  // Once found in a whole manifest, text after its end cannot take the verdict
  // back. (Of a broken one, what libxml2's recovery keeps of an element cut off at
  // the end depends on what follows it.)
  const bool whole = !corvane::ReadXmlElements(manifest, [](const corvane::TXmlElement&) { return true; });
  if (encrypted && whole && !corvane::ManifestMarksEncrypted(std::string(manifest) + "\n</x><y>", part)) std::abort();
  return 0;
}

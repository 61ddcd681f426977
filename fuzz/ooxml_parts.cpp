// The readers of an Office Open XML package's own parts over arbitrary bytes: its
// relationships, its content types and a workbook's sheets, and the resolution of
// a relationship's target against the part that names it. Byte 0 chooses the
// reader. None may crash or hang; a resolved part name never leaves the package
// (no "." or ".." step, no empty step, no leading "/").

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "converter/ooxml.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0] % 3) {
    case 0: {
      std::vector<corvane::TRelationship> relationships;
      corvane::ReadRelationships(text, relationships);
      for (const auto& relationship : relationships) {
        for (const std::string_view source : {"", "word/document.xml", "xl/workbook.xml"}) {
          if (const auto part = corvane::ResolvePartName(source, relationship.Target))
            fuzzsupport::AbortUnlessInsidePackage(*part);
        }
        corvane::IsRelationship(relationship, "officeDocument");
      }
      break;
    }
    case 1: {
      corvane::TContentTypes types;
      corvane::ReadContentTypes(text, types);
      types.Of("word/document.xml");
      types.Of("xl/workbook");
      break;
    }
    default: {
      std::string id;
      corvane::ReadFirstSheetId(text, id);
      if (const auto part = corvane::ResolvePartName("xl/workbook.xml", text))
        fuzzsupport::AbortUnlessInsidePackage(*part);
      break;
    }
  }
  return 0;
}

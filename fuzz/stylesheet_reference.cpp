// The stylesheet insertion over arbitrary text: the planned edit stays inside the
// text, and applying it gives exactly the text less the DOCTYPE plus the
// instruction. The first bytes also serve as the template path, whose href must
// be a URI reference that decodes to the path's UTF-8 form. The same text goes
// through the judgement of whether it can be XML at all.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "converter/document_kind.h"
#include "converter/stylesheet.h"
#include "platform/code_page.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  const std::size_t split = size == 0 ? 0 : data[0] % (size < 64 ? size : 64);
  const std::string templatePath(all.substr(0, split));
  const std::string_view text = all.substr(split);

  const std::string reference = corvane::AnsiToUtf8(templatePath);
  // The reference must be valid UTF-8: its UTF-16 form has no replacement unless
  // the path itself produced one.
  const std::u16string back = platform::AnsiToUtf16(reference);
  const std::u16string original = platform::AnsiToUtf16(templatePath);
  if (back != original) std::abort();

  // A text whose first byte is markup is never refused, and a refusal says why.
  const auto notXml = corvane::NotXmlReason(text);
  if (notXml && (notXml->empty() || text.starts_with('<'))) std::abort();

  const auto edit = corvane::PlanStylesheetReference(text, templatePath);
  if (!edit) return 0;
  if (edit->DoctypeStart > edit->DoctypeEnd || edit->DoctypeEnd > text.size() || edit->InsertAt > text.size()) {
    std::abort();
  }
  if (edit->InsertAt > edit->DoctypeStart && edit->InsertAt < edit->DoctypeEnd) std::abort();
  // Right after a ">", or right before the first "<" of the text less its DOCTYPE.
  const bool afterMarkup = edit->InsertAt > 0 && text[edit->InsertAt - 1] == '>';
  std::size_t firstOpen = text.substr(0, edit->DoctypeStart).find('<');
  if (firstOpen == std::string_view::npos) firstOpen = text.find('<', edit->DoctypeEnd);
  const bool beforeRoot = edit->InsertAt == firstOpen;
  if (!afterMarkup && !beforeRoot) std::abort();
  // The href is the path's UTF-8 form as a URI reference: nothing in it can end
  // the attribute or the instruction, and it decodes back to that form.
  const std::string href = corvane::StylesheetHref(templatePath);
  if (edit->Instruction.find("href=\"" + href + "\"") == std::string::npos) std::abort();
  std::string decoded;
  for (std::size_t i = 0; i < href.size(); ++i) {
    const char c = href[i];
    if (c == '"' || c == '&' || c == '<' || c == '>' || c == '?' || c == ' ' || static_cast<unsigned char>(c) >= 0x80)
      std::abort();
    if (c != '%') {
      decoded += c;
      continue;
    }
    if (i + 2 >= href.size()) std::abort();
    decoded += static_cast<char>(std::stoi(href.substr(i + 1, 2), nullptr, 16));
    i += 2;
  }
  if (decoded != reference) std::abort();
  return 0;
}

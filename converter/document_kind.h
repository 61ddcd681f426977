#pragma once
// Whether a document's bytes can be XML at all, judged before they are copied: a
// PDF, an image, a compound file or a zip archive is named by its signature, and
// binary bytes before the first markup give away any other file that is no text.
// Only the bytes before the first "<" are judged: a document in an 8-bit code page
// (windows-1251, KOI8-R) has bytes beyond ASCII everywhere, and they are never
// taken for binary; control bytes are, as no text starts with them.

#include <optional>
#include <string>
#include <string_view>

namespace corvane {

/// Why the text is no XML document, one phrase for the user ("the file is a PDF
/// document, not XML"); nothing when it may be one. A byte-order mark of UTF-16 or
/// UTF-32, or a "<" as a UTF-16 or UTF-32 code unit behind nothing but white
/// space, makes it text; a UTF-8 byte-order mark is passed over. A text without
/// any "<" is judged whole.
std::optional<std::string> NotXmlReason(std::string_view text);

}  // namespace corvane

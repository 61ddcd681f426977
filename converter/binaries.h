#pragma once
// Embedded payloads: documents such as FictionBook books carry whole files as
// Base64 text inside `binary` elements whose `id` attribute names the file. They
// are found by plain text search, not by an XML parser.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

/// The text before the first occurrence of the separator; all of it when none.
std::string_view TextBefore(std::string_view text, std::string_view separator);
/// The text after the first occurrence of the separator; all of it when none.
std::string_view TextAfter(std::string_view text, std::string_view separator);
/// The text from the end of the first opening mark up to the next closing mark
/// after the opening mark's first byte; empty when either is missing.
std::string_view TextBetween(std::string_view text, std::string_view openMark, std::string_view closeMark);

/// Reads the next element "<NAME ...>content</NAME>" of a text from offset on.
/// Whenever an opening and a closing tag are found, offset moves to the closing
/// tag, so the next call finds the next element, and the scan never copies the
/// rest of the text. Returns true with the attribute's double-quoted value and
/// the content up to the first "<" inside the element; false when there is no
/// further element, or its content or value is empty.
bool NextTaggedElement(std::string_view text, std::size_t& offset, std::string_view name, std::string_view attribute,
                       std::string_view& value, std::string_view& content);

/// Decodes Base64 (A-Z a-z 0-9 + /, "=" padding), skipping every other byte.
/// Decoding stops at the first group that holds padding; an incomplete last group
/// gives nothing.
std::string DecodeBase64(std::string_view text);

/// True when a payload id can be used as a file name inside the output folder:
/// not empty, not "." or "..", and without "/", "\" or ":"; on Windows also a
/// name the system can create that names no device ("CON", "nul.png").
bool PayloadIdIsSafe(std::string_view id);

/// Writes every Base64 payload of the document's `binary` elements, decoded, into
/// the folder (which ends with a separator) under its id. Silent: a payload that
/// cannot be written, decodes to nothing or has an unsafe id is passed over.
/// Stops at Ctrl-C (platform::InterruptRequested). Each file it writes that was
/// not there before goes into created.
void ExtractBinaries(const std::string& documentPath, const std::string& folder, std::vector<std::string>& created);

}  // namespace corvane

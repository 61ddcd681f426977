#pragma once
// The stylesheet reference: the document's first DOCTYPE declaration goes, and an
// xml-stylesheet instruction naming the template goes right after the first markup
// item (in front of it when that is the root element's start tag), so that a
// browser opening the document applies the template itself. The document is
// handled as bytes and never parsed. Also the whole-file text routines and the
// UTF-8 encoding of the template path.

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace corvane {

/// A whole file's bytes, read once (mapped where the system allows).
class TFileText {
 public:
  std::string_view View() const { return bytes_.View(); }

 private:
  friend bool LoadFileText(const std::string& path, TFileText& text);
  platform::TFileBytes bytes_;
};

/// Reads a whole file. False (with an empty text) when it cannot be opened or read.
bool LoadFileText(const std::string& path, TFileText& text);
/// Writes the pieces, one after another, as the whole new content of the file,
/// which is created or truncated. An empty content is refused and leaves the file
/// alone; a write that does not take every byte is a failure.
bool SaveFileText(const std::string& path, std::initializer_list<std::string_view> pieces);
bool SaveFileText(const std::string& path, std::string_view bytes);
/// As SaveFileText, but the new content is written beside the file and put in its
/// place in one step: for a file whose old text is still being read (a loaded
/// text may be a view of the file), and so that a failed write leaves the old
/// file whole.
bool ReplaceFileText(const std::string& path, std::initializer_list<std::string_view> pieces);

/// 1-based position of the first occurrence of pattern that starts at position
/// start or later; 0 when there is none.
std::size_t PosFrom(std::string_view pattern, std::string_view text, std::size_t start);

/// UTF-8 form of an ANSI string. A surrogate pair becomes one four-byte sequence;
/// anything not valid becomes U+FFFD, so the result is always valid UTF-8.
std::string AnsiToUtf8(const std::string& ansi);
/// Encodes UTF-16 units as UTF-8 into dest, stopping before a character whose
/// bytes would not all fit, and always writes a terminating zero byte. Returns the
/// bytes written, the terminator included (0 only when capacity is 0).
std::size_t EncodeUtf8(std::u16string_view units, char* dest, std::size_t capacity);

/// The UTF-8 text with every byte other than an ASCII letter, a digit or one of
/// plain written as %XX: a path as a URI reference.
std::string PercentEscaped(std::string_view utf8, std::string_view plain);
/// The template path as the instruction's href, a URI reference: its UTF-8 form
/// with every byte other than an ASCII letter or digit, "-", ".", "_", "~", "/",
/// ":" and the separators of the rules ("\\" on Win32) written as "%XX" (upper-case
/// hex). A blank, a quote, an "&" or a letter beyond ASCII in the path thus reach
/// a browser or an XSLT processor intact, whatever the document's own encoding.
std::string StylesheetHref(const std::string& templatePath,
                           const platform::TPathRules& rules = platform::HostPathRules());

/// Where the reference goes into a document, in the document's own byte offsets
/// (0-based): the DOCTYPE declaration [DoctypeStart, DoctypeEnd) is left out, and
/// the instruction goes in before the byte at InsertAt.
struct TStylesheetEdit {
  std::size_t DoctypeStart = 0;
  std::size_t DoctypeEnd = 0;  ///< equal to DoctypeStart when there is none to remove
  std::size_t InsertAt = 0;
  std::string Instruction;
};

/// Plans the edit for a document text; nothing when the text holds no "<" with a
/// ">" after it (once the DOCTYPE is gone).
std::optional<TStylesheetEdit> PlanStylesheetReference(std::string_view text, const std::string& templatePath);

/// Removes the document's first DOCTYPE and inserts the instruction naming the
/// template. False when the document cannot be read, has no insertion point (the
/// file is then left as it was), or cannot be written back.
bool InsertStylesheetReference(const std::string& documentPath, const std::string& templatePath);

/// The outcome of CopyWithStylesheetReference.
enum class TCopyOutcome { Done, CopyFailed, NoInsertionPoint, NotXml };

/// The copy step and the insertion in one pass: writes the document to the target,
/// replacing it, with the DOCTYPE removed and the instruction inserted, so the
/// bytes are moved once. Copying a file onto itself fails without touching it; a
/// copy that fails half-way removes the target.
/// CopyFailed leaves the last system error code of the failed call. A document
/// that cannot be XML (NotXmlReason) gives NotXml, with the reason in notXml when
/// asked for; with NotXml and NoInsertionPoint nothing was written.
TCopyOutcome CopyWithStylesheetReference(const std::string& documentPath, const std::string& targetPath,
                                         const std::string& templatePath, std::string* notXml = nullptr);

}  // namespace corvane

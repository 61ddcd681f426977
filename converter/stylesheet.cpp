#include "converter/stylesheet.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "converter/document_kind.h"
#include "platform/code_page.h"
#include "platform/utf8.h"

namespace corvane {
namespace {

constexpr std::string_view DoctypeMark = "<!DOCTYPE";
constexpr std::string_view InstructionHead = "\r\n<?xml-stylesheet href=\"";
constexpr std::string_view InstructionTail = "\" type=\"text/xsl\"?>\r\n";

// The first "<!DOCTYPE" of the text, or npos. A document without one is searched
// to its end, and "<" stands every few bytes in XML: the search goes by "!",
// which is rare outside declarations and comments.
std::size_t FindDoctype(std::string_view text) {
  for (std::size_t bang = text.find('!', 1); bang != std::string_view::npos; bang = text.find('!', bang + 1)) {
    if (text[bang - 1] == '<' && text.substr(bang - 1, DoctypeMark.size()) == DoctypeMark) return bang - 1;
  }
  return std::string_view::npos;
}

// Whether the "<" at open begins an element's start tag: a name follows it (an
// ASCII letter, "_", ":" or a byte of a character beyond ASCII), where a
// declaration, comment or instruction has "?" or "!" and an end tag "/".
bool StartsElement(std::string_view text, std::size_t open) {
  if (open + 1 >= text.size()) return false;
  const auto c = static_cast<unsigned char>(text[open + 1]);
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
}

// Finds c in the text with the removed span [gapStart, gapEnd) left out, from
// position from on; npos when there is none.
std::size_t FindOutsideGap(std::string_view text, char c, std::size_t from, std::size_t gapStart, std::size_t gapEnd) {
  if (from < gapStart) {
    const std::size_t hit = text.substr(0, gapStart).find(c, from);
    if (hit != std::string_view::npos) return hit;
    from = gapEnd;
  }
  if (from < gapEnd) from = gapEnd;
  return text.find(c, from);
}

// The pieces of the edited text, in order, as views of the original and of the
// instruction.
std::vector<std::string_view> EditedPieces(std::string_view text, const TStylesheetEdit& edit) {
  std::vector<std::string_view> pieces;
  const std::string_view instruction = edit.Instruction;
  if (edit.InsertAt <= edit.DoctypeStart) {
    pieces = {text.substr(0, edit.InsertAt), instruction, text.substr(edit.InsertAt, edit.DoctypeStart - edit.InsertAt),
              text.substr(edit.DoctypeEnd)};
  } else {
    pieces = {text.substr(0, edit.DoctypeStart), text.substr(edit.DoctypeEnd, edit.InsertAt - edit.DoctypeEnd),
              instruction, text.substr(edit.InsertAt)};
  }
  return pieces;
}

bool WritePieces(platform::TFile& file, std::initializer_list<std::string_view> pieces) {
  for (const auto piece : pieces) {
    if (piece.empty()) continue;
    if (file.Write(piece.data(), piece.size()) != static_cast<std::int64_t>(piece.size())) return false;
  }
  return true;
}

std::size_t TotalSize(std::initializer_list<std::string_view> pieces) {
  std::size_t total = 0;
  for (const auto piece : pieces) total += piece.size();
  return total;
}

}  // namespace

bool LoadFileText(const std::string& path, TFileText& text) {
  text.bytes_ = platform::TFileBytes();
  platform::TFile file = platform::TFile::Open(path, platform::TFileAccess::Read, platform::TFileShare::Read,
                                               platform::TFileCreation::OpenExisting);
  if (!file.IsOpen()) return false;
  return text.bytes_.Load(file);
}

bool SaveFileText(const std::string& path, std::initializer_list<std::string_view> pieces) {
  if (TotalSize(pieces) == 0) return false;
  platform::TFile file = platform::TFile::Open(path, platform::TFileAccess::Write, platform::TFileShare::Read,
                                               platform::TFileCreation::CreateAlways);
  if (!file.IsOpen()) return false;
  const bool written = WritePieces(file, pieces);
  return file.Close() && written;
}

bool ReplaceFileText(const std::string& path, std::initializer_list<std::string_view> pieces) {
  if (TotalSize(pieces) == 0) return false;
  platform::TFileReplacement replacement;
  return replacement.Begin(path, path) && WritePieces(replacement.File(), pieces) && replacement.Commit();
}

bool SaveFileText(const std::string& path, std::string_view bytes) { return SaveFileText(path, {bytes}); }

std::size_t PosFrom(std::string_view pattern, std::string_view text, std::size_t start) {
  if (start == 0) start = 1;
  if (pattern.size() > text.size() || start > text.size() - pattern.size() + 1) return 0;
  const std::size_t hit = text.find(pattern, start - 1);
  return hit == std::string_view::npos ? 0 : hit + 1;
}

std::size_t EncodeUtf8(std::u16string_view units, char* dest, std::size_t capacity) {
  if (capacity == 0) return 0;
  std::string encoded;
  encoded.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    std::uint32_t cp = units[i];
    std::size_t taken = 1;
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      // A surrogate pair is one character: four bytes, never two three-byte halves.
      cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      taken = 2;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;  // a lone half has no UTF-8 form
    }
    const std::size_t before = encoded.size();
    platform::AppendUtf8(encoded, cp);
    if (encoded.size() + 1 > capacity) {  // room for the terminator stays
      encoded.resize(before);
      break;
    }
    i += taken - 1;
  }
  encoded.copy(dest, encoded.size());
  dest[encoded.size()] = '\0';
  return encoded.size() + 1;
}

std::string AnsiToUtf8(const std::string& ansi) {
  if (ansi.empty()) return {};
  const std::u16string units = platform::AnsiToUtf16(ansi);
  // Three bytes per unit cover every character (a pair's four bytes take two
  // units' room), plus the terminator.
  std::string out(units.size() * 3 + 1, '\0');
  const std::size_t written = EncodeUtf8(units, out.data(), out.size());
  if (written < 1) return {};
  out.resize(written - 1);
  return out;
}

std::string PercentEscaped(std::string_view utf8, std::string_view plain) {
  static constexpr char Hex[] = "0123456789ABCDEF";
  std::string escaped;
  escaped.reserve(utf8.size());
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
        plain.find(c) != std::string_view::npos) {
      escaped += c;
    } else {
      escaped += '%';
      escaped += Hex[byte >> 4];
      escaped += Hex[byte & 0x0F];
    }
  }
  return escaped;
}

std::string StylesheetHref(const std::string& templatePath, const platform::TPathRules& rules) {
  return PercentEscaped(AnsiToUtf8(templatePath), "-._~/:" + std::string(rules.Separators));
}

std::optional<TStylesheetEdit> PlanStylesheetReference(std::string_view text, const std::string& templatePath) {
  TStylesheetEdit edit;
  const std::size_t doctype = FindDoctype(text);
  if (doctype != std::string_view::npos) {
    const std::size_t close = text.find('>', doctype);
    if (close != std::string_view::npos) {
      edit.DoctypeStart = doctype;
      edit.DoctypeEnd = close + 1;
    }
  }
  // The first markup item of the text as it stands once the DOCTYPE is gone.
  const std::size_t open = FindOutsideGap(text, '<', 0, edit.DoctypeStart, edit.DoctypeEnd);
  if (open == std::string_view::npos) return std::nullopt;
  const std::size_t close = FindOutsideGap(text, '>', open, edit.DoctypeStart, edit.DoctypeEnd);
  if (close == std::string_view::npos) return std::nullopt;
  // After a declaration, a comment or an instruction the reference stays in the
  // prolog. Right after the root element's start tag it would lie inside the
  // element, where browsers ignore it: a document without a prolog (as many
  // generators write their XML) gets it in front of that tag instead.
  edit.InsertAt = StartsElement(text, open) ? open : close + 1;
  const std::string reference = StylesheetHref(templatePath);
  edit.Instruction.reserve(InstructionHead.size() + reference.size() + InstructionTail.size());
  edit.Instruction.append(InstructionHead).append(reference).append(InstructionTail);
  return edit;
}

bool InsertStylesheetReference(const std::string& documentPath, const std::string& templatePath) {
  TFileText text;
  if (!LoadFileText(documentPath, text)) return false;
  const auto edit = PlanStylesheetReference(text.View(), templatePath);
  if (!edit) return false;
  const auto pieces = EditedPieces(text.View(), *edit);
  // The text is a view of the file itself: replace the file, never truncate it.
  return ReplaceFileText(documentPath, {pieces[0], pieces[1], pieces[2], pieces[3]});
}

TCopyOutcome CopyWithStylesheetReference(const std::string& documentPath, const std::string& targetPath,
                                         const std::string& templatePath, std::string* notXml) {
  if (platform::SameFile(documentPath, targetPath)) {
    // Copying a file onto itself would destroy it; the platform's copy refuses it
    // untouched and leaves its own error code for the message.
    platform::CopyFileOver(documentPath, targetPath);
    return TCopyOutcome::CopyFailed;
  }
  platform::TFile source = platform::TFile::Open(documentPath, platform::TFileAccess::Read, platform::TFileShare::Read,
                                                 platform::TFileCreation::OpenExisting);
  if (!source.IsOpen()) return TCopyOutcome::CopyFailed;
  platform::TFileBytes bytes;
  if (!bytes.Load(source)) return TCopyOutcome::CopyFailed;
  const std::string_view text = bytes.View();
  // The target is another file than the document (checked above). An older copy
  // is deleted rather than truncated: a fresh file is written out at the system's
  // own pace, where a truncated one is flushed to disk when it is closed.
  platform::RemoveFile(targetPath);
  platform::TFile target = platform::TFile::Open(targetPath, platform::TFileAccess::Write, platform::TFileShare::None,
                                                 platform::TFileCreation::CreateAlways);
  if (!target.IsOpen()) return TCopyOutcome::CopyFailed;
  // A PDF or an image would come out as a copy that no browser can show.
  if (auto reason = NotXmlReason(text)) {
    if (notXml != nullptr) *notXml = std::move(*reason);
    return TCopyOutcome::NotXml;
  }
  const auto edit = PlanStylesheetReference(text, templatePath);
  if (!edit) return TCopyOutcome::NoInsertionPoint;
  const auto pieces = EditedPieces(text, *edit);
  // The last piece is the long tail of the document: the system copies it straight
  // from file to file. A pipe has given its bytes once, into memory: they are
  // written from there.
  const std::string_view tail = pieces[3];
  const auto tailOffset = static_cast<std::int64_t>(tail.data() - text.data());
  const auto tailSize = static_cast<std::int64_t>(tail.size());
  const bool fromMemory = source.Kind() != platform::TFileKind::Regular;
  if (WritePieces(target, {pieces[0], pieces[1], pieces[2]}) &&
      (fromMemory ? WritePieces(target, {tail}) : target.CopyFrom(source, tailOffset, tailSize) == tailSize) &&
      target.Close()) {
    return TCopyOutcome::Done;
  }
  // A copy that failed half-way leaves no half a document behind.
  const int error = platform::LastSystemError();
  target.Close();
  platform::RemoveFile(targetPath);
  platform::SetLastSystemError(error);
  return TCopyOutcome::CopyFailed;
}

}  // namespace corvane

#include "converter/html_page.h"

#include <libexslt/exslt.h>
#include <libxml/parser.h>
#include <libxml/uri.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlerror.h>
#include <libxslt/imports.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xslt.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "converter/xml_owners.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/host_ui.h"

namespace corvane {
namespace {

// ---- Owners of the libraries' objects -------------------------------------------------

struct TFreeStylesheet {
  void operator()(xsltStylesheetPtr style) const { xsltFreeStylesheet(style); }
};
struct TFreeTransform {
  void operator()(xsltTransformContextPtr transform) const { xsltFreeTransformContext(transform); }
};
struct TFreeSecurity {
  void operator()(xsltSecurityPrefsPtr security) const { xsltFreeSecurityPrefs(security); }
};
struct TCloseOutput {
  void operator()(xmlOutputBufferPtr output) const { xmlOutputBufferClose(output); }
};
using TStylesheet = std::unique_ptr<xsltStylesheet, TFreeStylesheet>;
using TTransform = std::unique_ptr<xsltTransformContext, TFreeTransform>;
using TSecurity = std::unique_ptr<xsltSecurityPrefs, TFreeSecurity>;
using TOutput = std::unique_ptr<xmlOutputBuffer, TCloseOutput>;

// ---- What the libraries say ----------------------------------------------------------

// One message of libxml2 or libxslt: where (when they say), and its first line.
struct TLibraryMessage {
  std::string File;
  long Line = 0;
  std::string Text;
  bool Error = true;    ///< false for libxml2's warnings
  bool Placed = false;  ///< a structured error, or text that came after its place
};

// Collects the libraries' messages instead of letting them reach stderr, so that a
// failure is told in one line of corvane's own. libxml2 hands over structured
// errors; libxslt writes text through a printf-like function, where an error's
// place comes on a line of its own ("runtime error: file F line N element E")
// before the message.
class TMessageLog {
 public:
  static void Structured(void* log, xmlErrorPtr error) {
    if (error == nullptr) return;
    TLibraryMessage message;
    if (error->file != nullptr) message.File = error->file;
    message.Line = error->line;
    message.Text = FirstLine(error->message != nullptr ? error->message : "");
    message.Error = error->level != XML_ERR_WARNING;
    message.Placed = true;
    static_cast<TMessageLog*>(log)->messages_.push_back(std::move(message));
  }

  static void Generic(void* log, const char* format, ...) {
    char small[512];
    std::va_list arguments;
    va_start(arguments, format);
    std::va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(small, sizeof small, format, arguments);
    va_end(arguments);
    std::string text;
    if (length >= static_cast<int>(sizeof small)) {
      text.resize(static_cast<std::size_t>(length) + 1);
      std::vsnprintf(text.data(), text.size(), format, again);
      text.resize(static_cast<std::size_t>(length));
    } else if (length > 0) {
      text.assign(small, static_cast<std::size_t>(length));
    }
    va_end(again);
    static_cast<TMessageLog*>(log)->AddText(text);
  }

  std::size_t Mark() const { return messages_.size(); }

  /// The message that explains a failure since the mark: the first error whose
  /// place the libraries name; else, with preferLast, the last message (the words
  /// of an xsl:message that ended the run), otherwise the first; else the
  /// fallback. A message without a place takes the first place named after it,
  /// else the default file. placed tells whether the libraries named the place.
  TPageError Explain(std::size_t mark, bool preferLast, const std::string& defaultFile, const std::string& fallback,
                     bool* placed = nullptr) {
    Flush();
    const std::size_t none = messages_.size();
    std::size_t chosen = none;
    for (std::size_t i = mark; i < messages_.size() && chosen == none; ++i) {
      if (messages_[i].Error && messages_[i].Placed) chosen = i;
    }
    if (chosen == none && mark < messages_.size()) chosen = preferLast ? messages_.size() - 1 : mark;
    if (placed != nullptr) *placed = chosen != none && messages_[chosen].Placed;
    TPageError error;
    error.File = defaultFile;
    error.Reason = fallback;
    if (chosen == none) return error;
    const TLibraryMessage& message = messages_[chosen];
    error.Reason = message.Text;
    for (std::size_t i = chosen; i < messages_.size(); ++i) {
      if (!messages_[i].File.empty()) {
        error.File = messages_[i].File;
        error.Line = messages_[i].Line;
        break;
      }
      if (i == chosen && message.Line != 0) {
        error.Line = message.Line;
        break;
      }
    }
    return error;
  }

 private:
  static std::string FirstLine(std::string_view text) {
    while (!text.empty() && (text.front() == '\n' || text.front() == '\r')) text.remove_prefix(1);
    text = text.substr(0, text.find_first_of("\r\n"));
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return std::string(text);
  }

  // libxslt's text arrives in pieces; each complete line is one message or one
  // place for the message that follows.
  void AddText(std::string_view text) {
    pending_.append(text);
    std::size_t end;
    while ((end = pending_.find('\n')) != std::string::npos) {
      AddLine(pending_.substr(0, end));
      pending_.erase(0, end + 1);
    }
  }
  void Flush() {
    if (!pending_.empty()) AddLine(pending_);
    pending_.clear();
  }

  void AddLine(const std::string& line) {
    const std::string text = FirstLine(line);
    if (text.empty()) return;
    // The place of the next message: "<kind> error: file F line N element E",
    // with the line and the element left out when unknown.
    for (const std::string_view kind : {"runtime error: ", "compilation error: "}) {
      if (!text.starts_with(kind)) continue;
      std::string_view rest = std::string_view(text).substr(kind.size());
      if (rest.starts_with("element ") || rest == "") return;
      if (!rest.starts_with("file ")) break;
      rest.remove_prefix(5);
      std::size_t stop = rest.find(" line ");
      const std::size_t element = rest.find(" element ");
      if (stop == std::string_view::npos) stop = element;
      place_.File = std::string(rest.substr(0, stop));
      place_.Line = 0;
      if (stop != std::string_view::npos && rest.substr(stop).starts_with(" line ")) {
        place_.Line = std::strtol(std::string(rest.substr(stop + 6)).c_str(), nullptr, 10);
      }
      hasPlace_ = true;
      return;
    }
    TLibraryMessage message;
    message.Text = text;
    if (hasPlace_) {
      message.File = place_.File;
      message.Line = place_.Line;
      message.Placed = true;
      hasPlace_ = false;
    }
    messages_.push_back(std::move(message));
  }

  std::vector<TLibraryMessage> messages_;
  std::string pending_;
  TLibraryMessage place_;
  bool hasPlace_ = false;
};

// ---- Encodings the system converts -------------------------------------------------------

// Where libxml2 has no converter of its own for an encoding (on Windows, without
// iconv: the legacy code pages), the system's conversion stands in. libxml2 calls
// a converter without any context, so each encoding gets a pair of functions of
// its own, told apart by the slot of the encoding in the system's list.
constexpr std::size_t EncodingSlots = 32;

// The code page of each slot: the system's encodings in their order, one slot per
// code page (its other names are aliases). Worked out once; the list is fixed.
std::uint32_t SlotCodePage(std::size_t slot) {
  static const std::vector<std::uint32_t> codePages = [] {
    std::vector<std::uint32_t> distinct;
    for (const auto& encoding : platform::SystemEncodings()) {
      if (distinct.empty() || distinct.back() != encoding.CodePage) distinct.push_back(encoding.CodePage);
    }
    return distinct;
  }();
  return codePages[slot];
}

// libxml2's contract: bytes written and consumed through the lengths; -1 when the
// output is full, -2 at a character that does not convert, else 0.
int ConverterResult(platform::TConversionResult result, std::size_t consumed, std::size_t produced, int* outLength,
                    int* inLength) {
  *outLength = static_cast<int>(produced);
  *inLength = static_cast<int>(consumed);
  switch (result) {
    case platform::TConversionResult::Done:
      return 0;
    case platform::TConversionResult::OutputFull:
      return -1;
    case platform::TConversionResult::Invalid:
      break;
  }
  return -2;
}

template <std::size_t Slot>
int DecodeSlot(unsigned char* out, int* outLength, const unsigned char* in, int* inLength) {
  std::size_t consumed = 0, produced = 0;
  const auto result = platform::ConvertToUtf8(
      SlotCodePage(Slot), {reinterpret_cast<const char*>(in), static_cast<std::size_t>(*inLength)}, consumed,
      reinterpret_cast<char*>(out), static_cast<std::size_t>(*outLength), produced);
  return ConverterResult(result, consumed, produced, outLength, inLength);
}

template <std::size_t Slot>
int EncodeSlot(unsigned char* out, int* outLength, const unsigned char* in, int* inLength) {
  std::size_t consumed = 0, produced = 0;
  const auto result = platform::ConvertFromUtf8(
      SlotCodePage(Slot), {reinterpret_cast<const char*>(in), static_cast<std::size_t>(*inLength)}, consumed,
      reinterpret_cast<char*>(out), static_cast<std::size_t>(*outLength), produced);
  return ConverterResult(result, consumed, produced, outLength, inLength);
}

template <std::size_t... Slot>
constexpr auto SlotConverters(std::index_sequence<Slot...>) {
  return std::array<std::pair<xmlCharEncodingInputFunc, xmlCharEncodingOutputFunc>, sizeof...(Slot)>{
      std::pair{&DecodeSlot<Slot>, &EncodeSlot<Slot>}...};
}

// Registers the system's encodings that libxml2 cannot read by itself: the first
// name of each code page gets the converters, its other names become aliases.
void RegisterSystemEncodings() {
  static constexpr auto Converters = SlotConverters(std::make_index_sequence<EncodingSlots>());
  std::size_t slot = 0;
  std::uint32_t codePage = 0;
  std::string handlerName;  // the name the converters of the current code page go by
  for (const auto& encoding : platform::SystemEncodings()) {
    const std::string name(encoding.Name);
    if (slot > 0 && encoding.CodePage == codePage) {
      if (!handlerName.empty()) xmlAddEncodingAlias(handlerName.c_str(), name.c_str());
      continue;
    }
    if (slot == EncodingSlots) break;
    codePage = encoding.CodePage;
    handlerName.clear();
    const std::size_t mine = slot++;
    if (xmlCharEncodingHandlerPtr known = xmlFindCharEncodingHandler(name.c_str())) {
      xmlCharEncCloseFunc(known);
      continue;  // libxml2 reads it already
    }
    void* h = xmlNewCharEncodingHandler(name.c_str(), Converters[mine].first, Converters[mine].second);
    if (h == nullptr) break;
    handlerName = name;
  }
}

// ---- Ctrl-C during the transformation ------------------------------------------------

// libxslt calls no routine of ours while it transforms, but for its debugger: with
// a context's debugStatus set, it calls the debugger's handler before each
// instruction and each template, and does little else of a debugger's (no call
// stack is kept without an add callback, no global status is changed; only a
// document that document() reads is not indexed for document order). That is
// the cheapest way it offers to look at Ctrl-C often enough to stop any template,
// one that loops for ever included: the handler only reads a flag, and a stopped
// state (as xsl:message terminate="yes" leaves) ends the transformation at its
// next step. A libxslt built without its debugger lets the run stop between its
// steps only.
#ifdef WITH_DEBUGGER
void StopOnInterrupt(xmlNodePtr, xmlNodePtr, xsltTemplatePtr, xsltTransformContextPtr transform) {
  if (platform::InterruptRequested()) transform->state = XSLT_STATE_STOPPED;
}

// The block of callbacks that xsltSetDebuggerCallbacks reads, in its order.
struct TDebuggerCallbacks {
  xsltHandleDebuggerCallback Handler;
  xsltAddCallCallback Add;
  xsltDropCallCallback Drop;
};

void WatchInterrupts(bool watch) {
  TDebuggerCallbacks callbacks{watch ? &StopOnInterrupt : nullptr, nullptr, nullptr};
  xsltSetDebuggerCallbacks(3, &callbacks);
}

void WatchInterrupts(xsltTransformContextPtr transform) { transform->debugStatus = XSLT_DEBUG_CONT; }
#else
void WatchInterrupts(bool) {}
void WatchInterrupts(xsltTransformContextPtr) {}
#endif

// ---- The libraries for one page --------------------------------------------------------

// Sets the libraries up for one page and puts everything back afterwards: their
// messages go to the log, no entity, DTD, import or document is ever fetched from
// the network, and line numbers are kept for the template's messages. The
// extension functions of EXSLT are there, as in xsltproc.
class TXsltLibrary {
 public:
  explicit TXsltLibrary(TMessageLog& log) {
    xmlInitParser();
    xsltInit();
    exsltRegisterAll();
    RegisterSystemEncodings();
    previousLoader_ = xmlGetExternalEntityLoader();
    xmlSetExternalEntityLoader(xmlNoNetExternalEntityLoader);
    previousLineNumbers_ = xmlLineNumbersDefault(1);
    xmlSetStructuredErrorFunc(&log, &TMessageLog::Structured);
    xmlSetGenericErrorFunc(&log, &TMessageLog::Generic);
    xsltSetGenericErrorFunc(&log, &TMessageLog::Generic);
    WatchInterrupts(true);
  }
  ~TXsltLibrary() {
    WatchInterrupts(false);
    xsltSetGenericErrorFunc(nullptr, nullptr);
    xmlSetGenericErrorFunc(nullptr, nullptr);
    xmlSetStructuredErrorFunc(nullptr, nullptr);
    xmlLineNumbersDefault(previousLineNumbers_);
    xmlSetExternalEntityLoader(previousLoader_);
    xsltCleanupGlobals();
    xmlCleanupParser();
  }
  TXsltLibrary(const TXsltLibrary&) = delete;
  TXsltLibrary& operator=(const TXsltLibrary&) = delete;

 private:
  xmlExternalEntityLoader previousLoader_ = nullptr;
  int previousLineNumbers_ = 0;
};

// ---- The document, read for the parser ------------------------------------------------

// Read, not mapped, so that the document's pages do not stay with the process
// while the trees are built; straight into the parser's own buffer.
struct TDocumentInput {
  platform::TFile File;
  int Error = 0;

  static int Read(void* context, char* buffer, int length) {
    auto& input = *static_cast<TDocumentInput*>(context);
    if (length <= 0) return 0;
    const std::int64_t got = input.File.Read(buffer, static_cast<std::size_t>(length));
    if (got < 0) {
      input.Error = platform::LastSystemError();
      return -1;
    }
    return static_cast<int>(got);
  }
  // The file is closed by its owner.
  static int Close(void*) { return 0; }
};

// ---- The page, written beside its place ----------------------------------------------

// Collects the serialiser's small pieces into larger writes to the new file.
struct TPageOutput {
  static constexpr std::size_t WriteSize = 64 * 1024;

  TPageOutput() { Pending.reserve(WriteSize); }
  platform::TFileReplacement Replacement;
  std::string Pending;
  bool Failed = false;
  int Error = 0;  ///< the system's code for the failed write

  bool WriteThrough(const char* bytes, std::size_t size) {
    if (Replacement.File().Write(bytes, size) == static_cast<std::int64_t>(size)) return true;
    Failed = true;
    Error = platform::LastSystemError();
    return false;
  }
  bool WritePending() {
    if (Failed) return false;
    if (Pending.empty()) return true;
    if (!WriteThrough(Pending.data(), Pending.size())) return false;
    Pending.clear();
    return true;
  }
  static int Write(void* context, const char* buffer, int length) {
    auto& output = *static_cast<TPageOutput*>(context);
    const auto size = static_cast<std::size_t>(length);
    if (output.Pending.size() + size > WriteSize && !output.WritePending()) return -1;
    if (output.Failed) return -1;
    if (size >= WriteSize) {
      // A piece as large as the buffer goes straight to the file.
      return output.WriteThrough(buffer, size) ? length : -1;
    }
    output.Pending.append(buffer, size);
    return length;
  }
  static int Close(void*) { return 0; }
};

// The options the documents that the template itself reads are parsed with:
// xsltproc's, and never the network.
constexpr int TemplateParseOptions = XSLT_PARSE_OPTIONS | XML_PARSE_NONET;
// The document may come from anywhere: no DTD is loaded and no entity is
// substituted, nothing is fetched, and libxml2's limits on depth and size stay.
// CDATA sections are text, as the template sees them in a browser. Short texts
// are kept inside their nodes: a book's tree takes less memory and time.
constexpr int DocumentParseOptions = XML_PARSE_NONET | XML_PARSE_NOCDATA | XML_PARSE_COMPACT;

std::string SystemReason(int code) {
  return code != 0 ? platform::SystemErrorText(code) : std::string("the system gave no reason");
}

// The path a message names, in the user's own spelling when it is one of the
// two files given (libxml2 names them by their URIs).
std::string Spelled(const std::string& file, const std::string& documentPath, const std::string& documentUri,
                    const std::string& templatePath, const std::string& templateUri) {
  if (file == documentUri) return documentPath;
  if (file == templateUri) return templatePath;
  return file;
}

std::string CanonicalUri(const std::string& path) {
  TXmlString uri(xmlCanonicPath(reinterpret_cast<const xmlChar*>(path.c_str())));
  return uri ? std::string(reinterpret_cast<const char*>(uri.get())) : path;
}

// One page in the making: what each step leaves for the next. The members go in
// the order the steps make them, so that they are freed in the opposite one.
struct TPageRun {
  TMessageLog& Log;
  TPageError& Error;
  TStylesheet Style;
  TXmlDoc Document;
  TSecurity Security;
  TTransform Transform;
  TXmlDoc Result;
};

// The template, as the user's own file: it may import, include and read local
// files; without it nothing else matters.
bool ReadTemplate(TPageRun& run, const std::string& templatePath) {
  {
    platform::TFile probe = platform::TFile::Open(templatePath, platform::TFileAccess::Read, platform::TFileShare::Read,
                                                  platform::TFileCreation::OpenExisting);
    if (!probe.IsOpen()) {
      run.Error = {templatePath, 0, "cannot read the template: " + SystemReason(platform::LastSystemError())};
      return false;
    }
  }
  const std::size_t mark = run.Log.Mark();
  TXmlParser templateParser(xmlNewParserCtxt());
  if (!templateParser) {
    run.Error = {templatePath, 0, "out of memory"};
    return false;
  }
  templateParser->linenumbers = 1;
  TXmlDoc templateDoc(xmlCtxtReadFile(templateParser.get(), templatePath.c_str(), nullptr, TemplateParseOptions));
  if (!templateDoc) {
    run.Error = run.Log.Explain(mark, false, templatePath, "the template is not well-formed XML");
    return false;
  }
  templateParser.reset();
  run.Style.reset(xsltParseStylesheetDoc(templateDoc.get()));
  if (!run.Style) {
    run.Error = run.Log.Explain(mark, false, templatePath, "the template is not an XSLT stylesheet");
    return false;
  }
  templateDoc.release();  // the stylesheet owns it now
  return true;
}

// The document, read through its own file handle so that a failing read is told
// apart from bad XML.
bool ReadDocument(TPageRun& run, const std::string& documentPath, const std::string& documentUri) {
  TDocumentInput input;
  input.File = platform::TFile::Open(documentPath, platform::TFileAccess::Read, platform::TFileShare::Read,
                                     platform::TFileCreation::OpenExisting);
  if (!input.File.IsOpen()) {
    run.Error = {documentPath, 0, "cannot read the document: " + SystemReason(platform::LastSystemError())};
    return false;
  }
  const std::size_t mark = run.Log.Mark();
  TXmlParser documentParser(xmlNewParserCtxt());
  if (!documentParser) {
    run.Error = {documentPath, 0, "out of memory"};
    return false;
  }
  run.Document.reset(xmlCtxtReadIO(documentParser.get(), &TDocumentInput::Read, &TDocumentInput::Close, &input,
                                   documentUri.c_str(), nullptr, DocumentParseOptions));
  if (input.Error != 0) {
    run.Error = {documentPath, 0, "cannot read the document: " + SystemReason(input.Error)};
    return false;
  }
  // libxml2 judges: a document it recovers from (an undeclared namespace prefix,
  // say) is transformed as xsltproc transforms it; one it gives up on is not.
  if (!run.Document) {
    run.Error = run.Log.Explain(mark, false, documentPath, "the document is not well-formed XML");
    return false;
  }
  documentParser.reset();
  input.File.Close();
  return true;
}

// The transformation: local reads only, no writes of any kind.
bool Transform(TPageRun& run, const std::string& templatePath) {
  run.Security.reset(xsltNewSecurityPrefs());
  xsltSecurityPrefsPtr security = run.Security.get();
  if (!security || xsltSetSecurityPrefs(security, XSLT_SECPREF_READ_NETWORK, xsltSecurityForbid) != 0 ||
      xsltSetSecurityPrefs(security, XSLT_SECPREF_WRITE_FILE, xsltSecurityForbid) != 0 ||
      xsltSetSecurityPrefs(security, XSLT_SECPREF_CREATE_DIRECTORY, xsltSecurityForbid) != 0 ||
      xsltSetSecurityPrefs(security, XSLT_SECPREF_WRITE_NETWORK, xsltSecurityForbid) != 0) {
    run.Error = {templatePath, 0, "out of memory"};
    return false;
  }
  run.Transform.reset(xsltNewTransformContext(run.Style.get(), run.Document.get()));
  xsltTransformContextPtr transform = run.Transform.get();
  if (!transform || xsltSetCtxtSecurityPrefs(security, transform) != 0) {
    run.Error = {templatePath, 0, "out of memory"};
    return false;
  }
  xsltSetCtxtParseOptions(transform, TemplateParseOptions);
  xsltSetTransformErrorFunc(transform, &run.Log, &TMessageLog::Generic);
  WatchInterrupts(transform);
  const std::size_t mark = run.Log.Mark();
  run.Result.reset(xsltApplyStylesheetUser(run.Style.get(), run.Document.get(), nullptr, nullptr, nullptr, transform));
  if (!run.Result || transform->state != XSLT_STATE_OK) {
    // A run that xsl:message terminate="yes" ended has no error of the
    // libraries; the template's own last words are the reason.
    const bool stopped = transform->state == XSLT_STATE_STOPPED;
    bool placed = false;
    run.Error = run.Log.Explain(mark, stopped, templatePath, "the transformation failed", &placed);
    if (stopped && !placed) run.Error.Reason = "the template stopped the transformation: " + run.Error.Reason;
    return false;
  }
  return true;
}

// The encoder of the encoding that the template's xsl:output names; none for
// UTF-8, which the page is written in without one, or when it names none.
xmlCharEncodingHandlerPtr PageEncoder(xsltStylesheetPtr style) {
  const xmlChar* encoding = nullptr;
  XSLT_GET_IMPORT_PTR(encoding, style, encoding)
  if (encoding == nullptr) return nullptr;
  xmlCharEncodingHandlerPtr encoder = xmlFindCharEncodingHandler(reinterpret_cast<const char*>(encoding));
  if (encoder != nullptr && xmlStrEqual(reinterpret_cast<const xmlChar*>(encoder->name), BAD_CAST "UTF-8")) {
    return nullptr;
  }
  return encoder;
}

// The page, encoded as the template's xsl:output says, written as xsltproc
// writes it.
bool WritePage(TPageRun& run, const std::string& documentPath, const std::string& pagePath) {
  TPageOutput page;
  if (!page.Replacement.Begin(pagePath, documentPath)) {
    run.Error = {pagePath, 0, "cannot create the page: " + SystemReason(platform::LastSystemError())};
    return false;
  }
  TOutput output(
      xmlOutputBufferCreateIO(&TPageOutput::Write, &TPageOutput::Close, &page, PageEncoder(run.Style.get())));
  if (!output) {
    run.Error = {pagePath, 0, "out of memory"};
    return false;
  }
  const std::size_t mark = run.Log.Mark();
  const int saved = xsltSaveResultTo(output.get(), run.Result.get(), run.Style.get());
  const int closed = xmlOutputBufferClose(output.release());
  if (saved < 0 || closed < 0 || !page.WritePending()) {
    if (page.Failed) {
      run.Error = {pagePath, 0, "cannot write the page: " + SystemReason(page.Error)};
    } else {
      run.Error = run.Log.Explain(mark, false, pagePath, "the page could not be serialised");
    }
    return false;
  }
  if (!page.Replacement.Commit()) {
    run.Error = {pagePath, 0, "cannot write the page: " + SystemReason(platform::LastSystemError())};
    return false;
  }
  return true;
}

bool MakePage(TMessageLog& log, const std::string& documentPath, const std::string& documentUri,
              const std::string& templatePath, const std::string& pagePath, TPageError& error) {
  TPageRun run{log, error, {}, {}, {}, {}, {}};
  return ReadTemplate(run, templatePath) && ReadDocument(run, documentPath, documentUri) &&
         Transform(run, templatePath) && WritePage(run, documentPath, pagePath);
}

}  // namespace

bool MakeHtmlPage(const std::string& documentPath, const std::string& templatePath, const std::string& pagePath,
                  TPageError& error) {
  TMessageLog log;
  TXsltLibrary library(log);
  const std::string documentUri = CanonicalUri(documentPath);
  const bool made = MakePage(log, documentPath, documentUri, templatePath, pagePath, error);
  if (!made) error.File = Spelled(error.File, documentPath, documentUri, templatePath, CanonicalUri(templatePath));
  return made;
}

}  // namespace corvane

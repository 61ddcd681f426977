#pragma once
// Owners of libxml2's objects, so that a document, a parser or a string libxml2
// hands over is freed on every way out, and the log of a parser's faults. Only
// the modules that use libxml2 include this.

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <memory>
#include <optional>
#include <string>

#include "converter/xml_reader.h"

namespace corvane {

struct TFreeXmlDoc {
  void operator()(xmlDocPtr doc) const { xmlFreeDoc(doc); }
};
struct TFreeXmlParser {
  void operator()(xmlParserCtxtPtr parser) const { xmlFreeParserCtxt(parser); }
};
struct TFreeXmlString {
  void operator()(xmlChar* text) const { xmlFree(text); }
};
using TXmlDoc = std::unique_ptr<xmlDoc, TFreeXmlDoc>;
using TXmlParser = std::unique_ptr<xmlParserCtxt, TFreeXmlParser>;
using TXmlString = std::unique_ptr<xmlChar, TFreeXmlString>;

/// What a parser found wrong: its first fatal message, else its first error;
/// warnings are passed over. Take is a structured error handler whose context is
/// the log.
struct TXmlFaultLog {
  std::optional<TXmlFault> First;
  bool Fatal = false;

  void Record(const xmlError* error) {
    if (error == nullptr || error->level < XML_ERR_ERROR || Fatal) return;
    const bool fatal = error->level == XML_ERR_FATAL;
    if (First && !fatal) return;
    std::string message = error->message != nullptr ? error->message : "";
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
    First = TXmlFault{error->line, message};
    Fatal = fatal;
  }
  static void Take(void* log, xmlErrorPtr error) { static_cast<TXmlFaultLog*>(log)->Record(error); }
};

}  // namespace corvane

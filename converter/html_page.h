#pragma once
// The page itself: for browsers that no longer apply XSL templates, corvane runs
// the template on the .XML copy and writes the HTML (or whatever the template's
// xsl:output asks for) beside it. The transformation is libxslt's, over libxml2,
// the XSLT 1.0 engine browsers used; only this module sees those libraries.

#include <string>

namespace corvane {

/// Why no page was made: the file the problem lies in, the line when the
/// libraries name one (0 otherwise), and the reason in one line.
struct TPageError {
  std::string File;
  long Line = 0;
  std::string Reason;
};

/// Applies the template to the document and writes the result to pagePath. The
/// document is parsed without its DTD, external entities or network access; the
/// template may read local files (xsl:import, xsl:include, document()) but never the
/// network, and may write nothing (xsl:document is refused). The page is written
/// beside pagePath and renamed into place only when it is whole, so a failure
/// leaves no page and no partial one. Prints nothing, never throws; false with
/// the error on failure.
bool MakeHtmlPage(const std::string& documentPath, const std::string& templatePath, const std::string& pagePath,
                  TPageError& error);

}  // namespace corvane

#pragma once
// The corvane program: the command line and the conversion pipeline.

#include <string>
#include <vector>

#include "converter/package.h"

namespace corvane {

/// Exit statuses of corvane.
enum : int {
  ExitSuccess = 0,     ///< converted (a missing template alone is still success)
  ExitUsage = 1,       ///< the usage text was printed
  ExitConversion = 2,  ///< the copy, the insertion or the page failed
};

/// The whole program: arguments without the program name, options ("--html" when
/// the page is wanted too) anywhere among them until "--". Returns the exit status.
int RunConverter(const std::vector<std::string>& arguments);

/// Copies the document (an absolute path) into the output folder as NAME.XML with
/// the stylesheet reference, and writes the payloads when the run asks for them.
/// Prints the copy error or "Conversion failed!" itself. True on success.
bool ConvertDocument(const TConversionRun& run, const std::string& documentPath);

}  // namespace corvane

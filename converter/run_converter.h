#pragma once
// The corvane program: the command line and the conversion pipeline.

#include <string>
#include <vector>

#include "converter/package.h"

namespace corvane {

/// Exit statuses of corvane.
enum : int {
  ExitSuccess = 0,       ///< converted (a missing template alone is still success)
  ExitUsage = 1,         ///< the usage text was printed
  ExitConversion = 2,    ///< the copy, the insertion or the page failed
  ExitInterrupted = 80,  ///< Ctrl-C: what the run had written is taken back (kestrel-unzip's status)
};

/// The whole program: arguments without the program name, options ("--html" when
/// the page is wanted too) anywhere among them until "--". Returns the exit status.
int RunConverter(const std::vector<std::string>& arguments);

/// The template that argument 2 names, absolute: the file it names when that can
/// be read; else, for a bare name ("docx", "fb2.xsl"), the template of that name
/// (".xsl" added when it has no such extension) that ships with corvane, in
/// share/corvane beside the program's folder or below it; else the file it names
/// (the run warns that it cannot be read).
std::string TemplatePathOf(const std::string& argument);

/// What a run put into the output folder that was not there before it, for a run
/// that Ctrl-C interrupts to take back; never a file or folder of the user's.
struct TRunOutput {
  std::vector<std::string> Files;    ///< files the run created
  std::vector<std::string> Folders;  ///< folders the run made
};

/// Copies the document (an absolute path) into the output folder as NAME.XML with
/// the stylesheet reference, and writes the payloads when the run asks for them.
/// Prints the copy error or "Conversion failed!" itself. True on success. Stops
/// early, false and silent, once Ctrl-C was pressed (platform::InterruptRequested);
/// what it wrote is noted in output all along.
bool ConvertDocument(const TConversionRun& run, const std::string& documentPath, TRunOutput& output);

}  // namespace corvane

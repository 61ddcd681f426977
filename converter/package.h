#pragma once
// The package step: an input that is a zip package of an office document is
// unpacked into the run's private work folder, and its main XML part becomes the
// document to convert.

#include <string>

namespace corvane {

/// The values of one conversion run, all byte strings in the ANSI code page.
struct TConversionRun {
  std::string InputPath;             ///< argument 1: the file the user named
  std::string TemplateArgument;      ///< argument 2, unchanged
  std::string OutputFolderArgument;  ///< argument 3, unchanged
  bool ExtractFlag = false;          ///< a fourth argument was given
  bool HtmlPage = false;             ///< "--html" came first: the page is written too
  std::string WorkFolderPath;        ///< the run's private work folder, ending with a separator
  std::string DocumentPath;          ///< the input, or the main part taken out of a package
};

/// What the package step made of the input.
enum class TPackageOutcome {
  poNotAPackage,  ///< not a zip archive (or unreadable): the input is the document
  poPartFound,    ///< a main part came out of the package and is the document
  poFailed,       ///< a zip archive from which no main part came out
};

/// Creates the run's work folder and, when the input is a package, unpacks it
/// there and sets the document path to its main part. Prints nothing, never throws.
TPackageOutcome ExtractPackage(TConversionRun& run);

}  // namespace corvane

#pragma once
// The package step: an input that is a zip package of an office document, or a
// zipped FictionBook book, gives the run's document: its main XML part (or the
// book) is unpacked into the run's private work folder, with what the run's
// options need of the package and nothing else.

#include <string>
#include <vector>

namespace corvane {

/// A file of the package that goes beside the copy with the payloads: an image
/// of the document, or the relationships that name the images of an Office Open
/// XML document.
struct TPackageFile {
  std::string Path;  ///< where it was unpacked, in the work folder
  std::string Name;  ///< where it goes, relative to the output folder ("/" between folders)
};

/// The values of one conversion run, all byte strings in the ANSI code page.
struct TConversionRun {
  std::string InputPath;                   ///< argument 1: the file the user named
  std::string InputName;                   ///< the input in messages: argument 1, or "standard input"
  std::string TemplateArgument;            ///< argument 2, unchanged
  std::string TemplatePath;                ///< the template it names (TemplatePathOf), absolute
  std::string OutputFolderArgument;        ///< argument 3, unchanged
  bool ExtractFlag = false;                ///< a fourth argument was given
  bool HtmlPage = false;                   ///< "--html" was given: the page is written too
  bool Flat = false;                       ///< "--flat" was given: a package is the document whole
  std::string WorkFolderPath;              ///< the run's private work folder, ending with a separator
  std::string DocumentPath;                ///< the input, or the main part taken out of a package
  std::string PartName;                    ///< that part as the package names it ("/" between folders)
  std::string FailureReason;               ///< why the run failed, one line for the user
  std::vector<std::string> Warnings;       ///< what the page lacks (a part left out), a line each
  std::vector<TPackageFile> PackageFiles;  ///< written beside the copy when ExtractFlag is set
};

/// The name under which a document or package read from standard input ("-")
/// is converted: the copy is stdin.XML.
inline constexpr const char* StandardInputFileName = "stdin";

/// Makes the run's private work folder (WorkFolderPath) when it has none yet.
/// False, with FailureReason set, when none can be made.
bool MakeWorkFolder(TConversionRun& run);

/// Reads the whole standard input into the work folder as StandardInputFileName
/// and makes that file the run's input: a package is read from its directory at
/// the end, and a document is read again by the copy. False, with FailureReason
/// set, when it cannot be kept.
bool TakeStandardInput(TConversionRun& run);

/// What the package step made of the input.
enum class TPackageOutcome {
  NotAPackage,  ///< not a zip archive (or unreadable): the input is the document
  PartFound,    ///< a main part came out of the package and is the document
  Failed,       ///< a zip archive from which no main part came out (FailureReason says why)
};

/// The folder, beside the copy NAME.XML, that the images of a package's flat form
/// go to: NAME_files (the copy's name without its extension, then "_files").
std::string FilesFolderName(const std::string& inputFileName);

/// When the input is a package, creates the run's work folder, unpacks the main
/// part there and sets the document path to it. One look at the package's
/// directory tells its kind, and each kind has its own way to the part:
/// - content.xml, document.xml or sheet1.xml at the package's top level
///   (OpenDocument and flat packages; the last one found wins);
/// - else an Office Open XML package (_rels/.rels, [Content_Types].xml): the part
///   that the package's officeDocument relationship names, and of a workbook its
///   first sheet; with ExtractFlag also the images that the part's relationships
///   name, and those relationships, for PackageFiles;
/// - else an EPUB book (META-INF/container.xml): always its flat form, as a book
///   has no main part;
/// - else the package's one entry whose name ends in ".fb2".
/// With Flat, an OpenDocument or Office Open XML package gives its flat form
/// (converter/flat_package.h) instead of the main part, and its images go to
/// FilesFolderName, which the flat form's xml:base names. Without it, the pictures
/// of an OpenDocument package go beside the copy at their own paths (Pictures/...),
/// where its main part refers to them.
/// A part that the package's manifest marks as encrypted is refused. A pipe or a
/// device is the document itself, and nothing is read from it here. Prints
/// nothing, never throws.
TPackageOutcome ExtractPackage(TConversionRun& run);

}  // namespace corvane

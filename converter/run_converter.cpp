#include "converter/run_converter.h"

#include <algorithm>
#include <cstddef>
#include <optional>

#include "converter/binaries.h"
#include "converter/file_utils.h"
#include "converter/html_page.h"
#include "converter/stylesheet.h"
#include "platform/code_page.h"
#include "platform/file_system.h"
#include "platform/host_ui.h"

namespace corvane {
namespace {

void PrintLine(std::string_view text) { platform::WriteConsoleLine(platform::TConsoleStream::Output, text); }

// The reason for a failure, on stderr below the message on stdout, which stays
// as it always was for the scripts that read it.
void PrintReason(const std::string& reason) {
  platform::WriteConsoleLine(platform::TConsoleStream::Error, "corvane: " + reason);
}

// The document as the user knows it: the input, or a part of the package named.
std::string DocumentLabel(const TConversionRun& run) {
  return run.PartName.empty() ? run.InputName : run.PartName + " of " + run.InputName;
}

// The templates that ship with corvane, each with an example of its kind.
struct TShippedTemplate {
  const char* Example;
  const char* Name;
};
constexpr TShippedTemplate ShippedTemplates[] = {
    {"report.docx", "docx"}, {"budget.xlsx", "xlsx"}, {"slides.pptx", "pptx"},
    {"report.odt", "odt"},   {"budget.ods", "ods"},   {"slides.odp", "odp"},
    {"book.fb2", "fb2"},     {"book.fb2.zip", "fb2"}, {"book.epub", "epub"},
};

// Where the templates that ship with corvane lie, relative to its program folder:
// share/corvane beside the folder of the programs (bin/), or below the programs'
// own folder, as in the Windows zip.
constexpr const char* ShippedTemplateFolders[] = {"../share/corvane", "share/corvane"};

void PrintUsage() {
  PrintLine("CORVANE Ver.1.0");
  PrintLine("Converts XML documents to HTML using XSL templates");
  PrintLine("");
  PrintLine("Usage:");
  PrintLine("  CORVANE.EXE <FileName> <XSL_Template> <Folder_to_put>");
  PrintLine("  CORVANE.EXE <FileName> <XSL_Template> <Folder_to_put> <Extract>");
  PrintLine("               <Extract>: any value: also write the embedded images");
  PrintLine("  CORVANE.EXE --html ...  also writes the HTML page itself (NAME.html)");
  PrintLine("  CORVANE.EXE --flat ...  gives the template a package whole (flat ODF, Flat OPC),");
  PrintLine("               its images in NAME_files");
  PrintLine("  CORVANE.EXE --help | --version");
  PrintLine("  <FileName> \"-\" reads the document or package from standard input;");
  PrintLine("  the copy is then stdin.XML.");
  PrintLine("  A document whose name begins with \"-\" is given as ./-name.");
  PrintLine("");
  PrintLine("Pages out of the box: a template by its short name is one of those installed");
  PrintLine("with corvane (share/corvane beside its program folder). One line per kind:");
  for (const TShippedTemplate& shipped : ShippedTemplates) {
    PrintLine(std::string("  corvane --html --flat ") + shipped.Example + " " + shipped.Name + " out 1");
  }
  PrintLine("");
}

// The folders that ForceFolders would create for the folder, innermost first:
// the ones that do not exist yet.
std::vector<std::string> MissingFolders(const std::string& folder) {
  const auto& rules = platform::HostPathRules();
  std::vector<std::string> missing;
  std::string path = folder;
  // "out/" is the folder "out"; a root ("/", "C:\") keeps its separator.
  while (path.size() > 1 && platform::IsPathSeparator(path.back(), rules) &&
         !platform::IsPathSeparator(path[path.size() - 2], rules))
    path.pop_back();
  while (!path.empty() && !FolderExists(path)) {
    missing.push_back(path);
    const std::string parent = platform::PathFolder(path, rules);
    if (parent.size() >= path.size()) break;  // a root or a drive
    path = parent;
  }
  return missing;
}

// A failed conversion takes back the output folders it made, while they are
// empty: the user finds the folder as it was before the run.
void RemoveFoldersMade(const std::vector<std::string>& made) {
  for (const std::string& folder : made) {
    if (!platform::RemoveFolder(folder)) break;
  }
}

// The page of --html, made from the copy at outputPath; on failure one line on
// stderr says where and why, and no page stays behind (an older one included, as
// it would no longer belong to the copy).
bool WriteHtmlPage(const std::string& outputPath, const std::string& templatePath, const std::string& pagePath) {
  TPageError error;
  if (MakeHtmlPage(outputPath, templatePath, pagePath, error)) return true;
  // Ctrl-C stopped the transformation: no page was written, and an older one
  // stays as the user had it.
  if (platform::InterruptRequested()) return false;
  std::string line = "corvane: " + error.File;
  if (error.Line > 0) line.append(":").append(std::to_string(error.Line));
  line.append(": ").append(error.Reason);
  platform::WriteConsoleLine(platform::TConsoleStream::Error, line);
  platform::RemoveFile(pagePath);
  return false;
}

// Removes the run's work folder with everything in it on every way out.
class TWorkFolderGuard {
 public:
  explicit TWorkFolderGuard(std::string& folder) : folder_(folder) {}
  ~TWorkFolderGuard() { RemoveNow(); }
  void RemoveNow() {
    if (!folder_.empty()) ClearFolderTree(folder_, true);
    folder_.clear();
  }
  TWorkFolderGuard(const TWorkFolderGuard&) = delete;
  TWorkFolderGuard& operator=(const TWorkFolderGuard&) = delete;

 private:
  std::string& folder_;
};

// Notes a file the run is about to write, unless it is there already: that one is
// the user's, and an interrupted run leaves it.
void NoteNewFile(TRunOutput& output, const std::string& path) {
  if (!platform::QueryFileKind(path)) output.Files.push_back(path);
}

// Takes back what an interrupted run wrote: its files, then its folders, the
// deepest first, each only while empty.
void TakeBack(TRunOutput& output) {
  for (auto file = output.Files.rbegin(); file != output.Files.rend(); ++file) platform::RemoveFile(*file);
  std::stable_sort(output.Folders.begin(), output.Folders.end(),
                   [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  for (const std::string& folder : output.Folders) platform::RemoveFolder(folder);
}

// The package's images beside their payload counterparts; silent as those.
void CopyPackageFiles(const TConversionRun& run, const std::string& folder, TRunOutput& output) {
  const auto& rules = platform::HostPathRules();
  for (const TPackageFile& file : run.PackageFiles) {
    if (platform::InterruptRequested()) return;
    std::string target = folder + file.Name;
    if (rules.Separator != '/') std::replace(target.begin(), target.end(), '/', rules.Separator);
    if (file.Name.find('/') != std::string::npos) {
      const std::string parent = PathFolderPart(target, rules);
      const std::vector<std::string> made = MissingFolders(parent);
      output.Folders.insert(output.Folders.end(), made.begin(), made.end());
      ForceFolders(parent, rules);
    }
    NoteNewFile(output, target);
    platform::CopyFileOver(file.Path, target);
  }
}

}  // namespace

namespace {

bool ConvertInto(const TConversionRun& run, const std::string& documentPath, const std::string& outputFolder,
                 int expandError, TRunOutput& output) {
  const auto& rules = platform::HostPathRules();
  const std::string& templatePath = run.TemplatePath;
  std::string outputPath = WithTrailingSeparator(outputFolder, rules) + PathNamePart(documentPath, rules);
  const TSplitName parts = SplitFileName(outputPath, rules);
  outputPath = parts.Folder + parts.Name + ".XML";
  const std::string pagePath = parts.Folder + parts.Name + ".html";

  platform::SetLastSystemError(0);
  TCopyOutcome outcome = TCopyOutcome::CopyFailed;
  std::string notXml;
  if (outputFolder.empty()) {
    // Without an absolute output folder the copy would land in the root. The
    // reason is the one the folder could not be expanded for (a path too long for
    // the system, say), a missing file when the system gave none.
    platform::SetLastSystemError(expandError != 0 ? expandError : platform::ErrorFileNotFound);
  } else {
    NoteNewFile(output, outputPath);
    if (run.HtmlPage) NoteNewFile(output, pagePath);
    outcome = CopyWithStylesheetReference(documentPath, outputPath, templatePath, &notXml);
  }
  if (platform::InterruptRequested()) return false;
  if (outcome == TCopyOutcome::CopyFailed) {
    // The code of the failed call itself, never one left behind by an earlier call.
    int code = platform::LastSystemError();
    if (code == 0) code = platform::ErrorFileNotFound;
    PrintLine("Temp file copy error: " + std::to_string(code));
    PrintReason("cannot copy " + DocumentLabel(run) + " to " + outputPath + ": " + platform::SystemErrorText(code));
    return false;
  }
  if (outcome == TCopyOutcome::NoInsertionPoint || outcome == TCopyOutcome::NotXml) {
    PrintLine("Conversion failed!");
    PrintReason(DocumentLabel(run) + ": " +
                (outcome == TCopyOutcome::NotXml
                     ? notXml
                     : std::string("the document has no markup (no \"<\" followed by \">\")")));
    platform::RemoveFile(outputPath);
    if (run.HtmlPage) platform::RemoveFile(pagePath);
    return false;
  }
  if (run.ExtractFlag) {
    const std::string folder = PathFolderPart(outputPath, rules);
    ExtractBinaries(outputPath, folder, output.Files);
    CopyPackageFiles(run, folder, output);
    if (platform::InterruptRequested()) return false;
  }
  // The page comes last, so that it is the template's page even when a payload
  // bears its name.
  if (run.HtmlPage) return WriteHtmlPage(outputPath, templatePath, pagePath);
  return true;
}

}  // namespace

std::string TemplatePathOf(const std::string& argument) {
  const std::string expanded = ExpandPath(argument);
  if (expanded.empty() || FileReadable(expanded)) return expanded;
  // Only a bare name is a short one: a path names its file and nothing else.
  const bool bare =
      !argument.empty() && argument.find_first_of(":/\\") == std::string::npos && argument != "." && argument != "..";
  const std::string program = platform::ProgramFolder();
  if (!bare || program.empty()) return expanded;
  std::string name = argument;
  const std::string lower = platform::AnsiLowerCase(name);
  if (!lower.ends_with(".xsl") && !lower.ends_with(".xslt")) name += ".xsl";
  const auto& rules = platform::HostPathRules();
  for (const char* folder : ShippedTemplateFolders) {
    std::string candidate = program + folder + "/" + name;
    if (rules.Separator != '/') std::replace(candidate.begin(), candidate.end(), '/', rules.Separator);
    candidate = ExpandPath(candidate);
    if (!candidate.empty() && FileReadable(candidate)) return candidate;
  }
  return expanded;
}

bool ConvertDocument(const TConversionRun& run, const std::string& documentPath, TRunOutput& output) {
  const std::string outputFolder = ExpandPath(run.OutputFolderArgument);
  const int expandError = outputFolder.empty() ? platform::LastSystemError() : 0;
  const std::vector<std::string> made = MissingFolders(outputFolder);
  output.Folders.insert(output.Folders.end(), made.begin(), made.end());
  // The folder in the system's own spelling, the one the copy goes to: "out//",
  // "./out" and, on Windows, "out/sub" name it alike.
  ForceFolders(outputFolder, platform::HostPathRules());
  if (ConvertInto(run, documentPath, outputFolder, expandError, output)) return true;
  RemoveFoldersMade(made);
  return false;
}

namespace {

// The command line taken apart: its options, and its arguments in order.
struct TCommandLine {
  bool HtmlPage = false, Flat = false, Help = false, Version = false;
  std::vector<std::string> Arguments;
};

// Options stand anywhere; "--" ends them, and whatever follows it is an argument.
// "-" alone is standard input. A document whose name begins with "-" is reached as
// "./-name" (or after "--"), so a mistyped option is never taken for a document
// that does not exist. False (the reason printed) for an unknown option.
bool ReadCommandLine(const std::vector<std::string>& commandLine, TCommandLine& parsed) {
  bool optionsEnded = false;
  for (const std::string& argument : commandLine) {
    if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
      parsed.Arguments.push_back(argument);
    } else if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "--html") {
      parsed.HtmlPage = true;
    } else if (argument == "--flat") {
      parsed.Flat = true;
    } else if (argument == "--help" || argument == "-h") {
      parsed.Help = true;
    } else if (argument == "--version") {
      parsed.Version = true;
    } else {
      PrintReason("unknown option " + argument + " (a document whose name begins with \"-\" is given as ./" + argument +
                  ")");
      return false;
    }
  }
  return true;
}

// Ctrl-C: the run takes back what it wrote and its work folder, and says so as
// kestrel-unzip does. A further Ctrl-C waits until everything is removed.
int Interrupted(platform::TInterruptCatcher& interrupts, const TConversionRun& run, TRunOutput& output,
                TWorkFolderGuard& work) {
  interrupts.HoldFurther();
  TakeBack(output);
  work.RemoveNow();
  PrintReason(run.InputName + ": interrupted");
  return ExitInterrupted;
}

}  // namespace

int RunConverter(const std::vector<std::string>& commandLine) {
  TCommandLine parsed;
  if (!ReadCommandLine(commandLine, parsed)) {
    PrintUsage();
    return ExitUsage;
  }
  const bool help = parsed.Help, version = parsed.Version;
  const std::vector<std::string>& arguments = parsed.Arguments;
  if (help) {
    PrintUsage();
    return ExitSuccess;
  }
  if (version) {
    PrintLine("corvane " KESTREL_VERSION);
    return ExitSuccess;
  }
  // The argument count stops at the first empty argument.
  std::size_t count = 0;
  while (count < arguments.size() && !arguments[count].empty()) ++count;
  if (count < 3) {
    PrintUsage();
    return ExitUsage;
  }

  TConversionRun run;
  run.InputPath = arguments[0];
  run.InputName = arguments[0];
  run.TemplateArgument = arguments[1];
  run.OutputFolderArgument = arguments[2];
  run.ExtractFlag = count >= 4;
  run.HtmlPage = parsed.HtmlPage;
  run.Flat = parsed.Flat;
  run.TemplatePath = TemplatePathOf(run.TemplateArgument);

  // Ctrl-C is caught until the run has taken back what an interrupt left half
  // done; but while a person types the document at the terminal it ends the
  // program as ever, as the read would wait on for the end of the input.
  std::optional<platform::TInterruptCatcher> interrupts;
  TRunOutput output;
  TWorkFolderGuard cleanup(run.WorkFolderPath);
  // Standard input is read once: it is kept in the work folder, where the package
  // step and the copy can read it as a file.
  const bool fromStandardInput = run.InputPath == "-";
  const bool typed = fromStandardInput && platform::InputIsTerminal();
  if (!typed) interrupts.emplace();
  TPackageOutcome package = TPackageOutcome::Failed;
  const bool taken = !fromStandardInput || TakeStandardInput(run);
  if (typed) interrupts.emplace();
  if (taken) package = ExtractPackage(run);
  if (platform::InterruptRequested()) return Interrupted(*interrupts, run, output, cleanup);
  // What the page will lack (a part of the package that could not be read), but
  // the rest still makes a page.
  for (const std::string& warning : run.Warnings) PrintReason(warning);
  // Nothing of the work folder takes part when the input is converted as it
  // stands: it goes now, before the document's bytes keep the disk busy.
  if (package == TPackageOutcome::NotAPackage && !fromStandardInput) cleanup.RemoveNow();

  const std::string& templatePath = run.TemplatePath;
  if (!FileReadable(templatePath)) {
    PrintLine("Warning! The xsl(t) template " + run.TemplateArgument + " does not exist!");
    // With --html the page's own failure says so.
    if (!run.HtmlPage) {
      PrintReason("the copy refers to the template " + templatePath +
                  ", which cannot be read: its page will not render until the template is there");
    }
  }
  if (package == TPackageOutcome::Failed) {
    // A package whose main part did not come out (its own bytes are no document),
    // or standard input that could not be kept.
    PrintLine("Conversion failed!");
    PrintReason(run.FailureReason);
    return ExitConversion;
  }
  const bool converted = ConvertDocument(run, ExpandPath(run.DocumentPath), output);
  if (platform::InterruptRequested()) return Interrupted(*interrupts, run, output, cleanup);
  return converted ? ExitSuccess : ExitConversion;
}

}  // namespace corvane

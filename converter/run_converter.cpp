#include "converter/run_converter.h"

#include "converter/binaries.h"
#include "converter/file_utils.h"
#include "converter/html_page.h"
#include "converter/stylesheet.h"
#include "platform/file_system.h"

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
  return run.PartName.empty() ? run.InputPath : run.PartName + " of " + run.InputPath;
}

void PrintUsage() {
  PrintLine("CORVANE Ver.1.0");
  PrintLine("Converts XML documents to HTML using XSL templates");
  PrintLine("");
  PrintLine("Usage:");
  PrintLine("  CORVANE.EXE <FileName> <XSL_Template> <Folder_to_put>");
  PrintLine("  CORVANE.EXE --html ...  also writes the HTML page itself (NAME.html)");
  PrintLine("");
}

// The page of --html, made from the copy at outputPath; on failure one line on
// stderr says where and why, and no page stays behind (an older one included, as
// it would no longer belong to the copy).
bool WriteHtmlPage(const std::string& outputPath, const std::string& templatePath, const std::string& pagePath) {
  TPageError error;
  if (MakeHtmlPage(outputPath, templatePath, pagePath, error)) return true;
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

}  // namespace

bool ConvertDocument(const TConversionRun& run, const std::string& documentPath) {
  const auto& rules = platform::HostPathRules();
  const std::string templatePath = ExpandPath(run.TemplateArgument);
  const std::string outputFolder = ExpandPath(run.OutputFolderArgument);
  const int expandError = outputFolder.empty() ? platform::LastSystemError() : 0;
  // The folder in the system's own spelling, the one the copy goes to: "out//",
  // "./out" and, on Windows, "out/sub" name it alike.
  ForceFolders(outputFolder, rules);
  std::string outputPath = WithTrailingSeparator(outputFolder, rules) + PathNamePart(documentPath, rules);
  const TSplitName parts = SplitFileName(outputPath, rules);
  outputPath = parts.Folder + parts.Name + ".XML";
  const std::string pagePath = parts.Folder + parts.Name + ".html";

  platform::SetLastSystemError(0);
  TCopyOutcome outcome = TCopyOutcome::CopyFailed;
  if (outputFolder.empty()) {
    // Without an absolute output folder the copy would land in the root. The
    // reason is the one the folder could not be expanded for (a path too long for
    // the system, say), a missing file when the system gave none.
    platform::SetLastSystemError(expandError != 0 ? expandError : platform::ErrorFileNotFound);
  } else {
    outcome = CopyWithStylesheetReference(documentPath, outputPath, templatePath);
  }
  if (outcome == TCopyOutcome::CopyFailed) {
    // The code of the failed call itself, never one left behind by an earlier call.
    int code = platform::LastSystemError();
    if (code == 0) code = platform::ErrorFileNotFound;
    PrintLine("Temp file copy error: " + std::to_string(code));
    PrintReason("cannot copy " + DocumentLabel(run) + " to " + outputPath + ": " + platform::SystemErrorText(code));
    return false;
  }
  if (outcome == TCopyOutcome::NoInsertionPoint) {
    PrintLine("Conversion failed!");
    PrintReason(DocumentLabel(run) + ": the document has no markup (no \"<\" followed by \">\")");
    platform::RemoveFile(outputPath);
    if (run.HtmlPage) platform::RemoveFile(pagePath);
    return false;
  }
  if (run.ExtractFlag) {
    const std::string folder = PathFolderPart(outputPath, rules);
    ExtractBinaries(outputPath, folder);
    // The package's images beside their payload counterparts; silent as those.
    for (const TPackageFile& file : run.PackageFiles) platform::CopyFileOver(file.Path, folder + file.Name);
  }
  // The page comes last, so that it is the template's page even when a payload
  // bears its name.
  if (run.HtmlPage) return WriteHtmlPage(outputPath, templatePath, pagePath);
  return true;
}

int RunConverter(const std::vector<std::string>& commandLine) {
  // "--html" counts only as the first argument; a document of that name is
  // reached as "./--html".
  const bool htmlPage = !commandLine.empty() && commandLine[0] == "--html";
  const std::vector<std::string> arguments(commandLine.begin() + (htmlPage ? 1 : 0), commandLine.end());
  // The argument count stops at the first empty argument.
  std::size_t count = 0;
  while (count < arguments.size() && !arguments[count].empty()) ++count;
  if (count < 3) {
    PrintUsage();
    return ExitUsage;
  }

  TConversionRun run;
  run.InputPath = arguments[0];
  run.TemplateArgument = arguments[1];
  run.OutputFolderArgument = arguments[2];
  run.ExtractFlag = count >= 4;
  run.HtmlPage = htmlPage;

  const TPackageOutcome package = ExtractPackage(run);
  TWorkFolderGuard cleanup(run.WorkFolderPath);
  // Nothing of the work folder takes part when the input is converted as it
  // stands: it goes now, before the document's bytes keep the disk busy.
  if (package == TPackageOutcome::NotAPackage) cleanup.RemoveNow();

  if (!FileReadable(ExpandPath(run.TemplateArgument))) {
    PrintLine("Warning! The xsl(t) template " + run.TemplateArgument + " does not exist!");
  }
  if (package == TPackageOutcome::Failed) {
    // A package whose main part did not come out: its own bytes are no document.
    PrintLine("Conversion failed!");
    PrintReason(run.FailureReason);
    return ExitConversion;
  }
  return ConvertDocument(run, ExpandPath(run.DocumentPath)) ? ExitSuccess : ExitConversion;
}

}  // namespace corvane

#include "converter/package.h"

#include <array>

#include "converter/file_utils.h"
#include "platform/file_system.h"
#include "unzip/kestrel_unzip.h"

namespace corvane {
namespace {

// The main XML parts of the office formats, probed in this order at the top level
// of the package; the last one found wins.
constexpr std::array<const char*, 3> MainParts = {"content.xml", "document.xml", "sheet1.xml"};

// Whether the input is a zip archive at all, when there is no work folder to
// unpack it into.
bool IsZipArchive(const std::string& input) {
  try {
    kestrel::TKestrelUnZip unzip;
    unzip.SetIncompleteZipMode(kestrel::izAssumeNotAZip);
    unzip.SetZipName(input);
    unzip.LoadZipDirectory();
    return true;
  } catch (const kestrel::ENotAZipFile&) {
    return false;
  } catch (const kestrel::EFOpenError&) {
    return false;
  } catch (...) {
    return true;  // a damaged archive is an archive still
  }
}

}  // namespace

TPackageOutcome ExtractPackage(TConversionRun& run) {
  const auto& rules = platform::HostPathRules();
  run.DocumentPath = run.InputPath;
  // A fresh folder of this run's own: concurrent runs never meet, and nothing an
  // earlier run left behind takes part in the probe.
  run.WorkFolderPath = platform::MakePrivateFolder(platform::TempFolder(), "corvane-");
  if (run.WorkFolderPath.empty()) {
    return IsZipArchive(run.InputPath) ? TPackageOutcome::poFailed : TPackageOutcome::poNotAPackage;
  }

  try {
    kestrel::TKestrelUnZip unzip;
    unzip.SetIncompleteZipMode(kestrel::izAssumeNotAZip);
    unzip.SetDoProcessMessages(true);
    unzip.SetZipName(run.InputPath);
    unzip.SetRecreateDirs(true);
    unzip.SetOverwriteMode(kestrel::TUZOverwriteMode::Always);
    std::string destination = run.WorkFolderPath;
    destination.pop_back();  // the component wants the folder without its separator
    unzip.SetDestDir(destination);
    // Every entry whose stored path holds a dot: all XML parts, but not "mimetype".
    unzip.FilesList().clear();
    unzip.FilesList().push_back("*.*");
    unzip.UnZip();
  } catch (const kestrel::ENotAZipFile&) {
    return TPackageOutcome::poNotAPackage;  // a plain document
  } catch (const kestrel::EFOpenError&) {
    return TPackageOutcome::poNotAPackage;  // the copy step reports what is wrong with it
  } catch (...) {
    // A zip archive whose unpacking broke off: its own bytes are no document.
    return TPackageOutcome::poFailed;
  }

  std::string found;
  for (const char* part : MainParts) {
    const std::string candidate = run.WorkFolderPath + part;
    if (FileReadable(candidate)) found = candidate;
  }
  // Parts that failed their CRC were deleted by the component, so they are not found.
  if (found.empty()) return TPackageOutcome::poFailed;

  // The part takes the package's own name, so that the copy is named after the package.
  const std::string renamed = PathFolderPart(found, rules) + PathNamePart(run.InputPath, rules);
  if (!platform::SameFile(renamed, found)) {
    // An entry of that name may have come out read-only, which Windows will not delete.
    platform::WriteAttributes(renamed, platform::faArchive);
    platform::RemoveFile(renamed);
    platform::RenameFile(found, renamed);
  }
  run.DocumentPath = renamed;
  return TPackageOutcome::poPartFound;
}

}  // namespace corvane

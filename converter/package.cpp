#include "converter/package.h"

#include "platform/file_system.h"

namespace corvane {

TPackageOutcome ExtractPackage(TConversionRun& run) {
  run.DocumentPath = run.InputPath;
  // A fresh folder of this run's own: concurrent runs never meet, and nothing an
  // earlier run left behind takes part.
  run.WorkFolderPath = platform::MakePrivateFolder(platform::TempFolder(), "corvane-");
  // The zip component unpacks packages here; until it does, every input is
  // converted as it stands.
  return TPackageOutcome::poNotAPackage;
}

}  // namespace corvane

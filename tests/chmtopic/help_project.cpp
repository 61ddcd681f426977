#include "tests/chmtopic/help_project.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace tessalytest {

std::string MissingHelpCompiler() {
  if (testsupport::HaveCommand("chmcmd")) return {};
  return "chmcmd (Debian package fp-utils) is not installed; CHM files cannot be compiled";
}

std::string CompileHelp(const testsupport::TTempFolder& folder, const THelpProject& project,
                        const std::string& chmName) {
  namespace fs = std::filesystem;
  const fs::path root = folder.Path();
  std::string hhp = "[OPTIONS]\nCompiled file=" + chmName + "\nTitle=Test help\nLanguage=" + project.Language + "\n";
  if (project.DefaultTopic) hhp += "Default topic=" + *project.DefaultTopic + "\n";
  if (project.WindowDefaultFile) {
    // name="title","contents","index","default file","home",... as HTML Help Workshop writes it.
    hhp += "\n[WINDOWS]\nmain=\"Test help\",\"\",\"\",\"" + *project.WindowDefaultFile + "\",\"" + project.WindowHome +
           "\",,,,,0x2520,,0x603006,,,,,,,,0\n";
  }
  hhp += "\n[FILES]\n";
  for (const std::string& page : project.Pages) {
    const fs::path pagePath = root / page;
    fs::create_directories(pagePath.parent_path());
    testsupport::WriteFile(pagePath,
                           "<html><head><title>" + page + "</title></head><body>" + page + "</body></html>\n");
    hhp += page + "\n";
  }
  const fs::path chmPath = root / chmName;
  fs::create_directories(chmPath.parent_path());
  testsupport::WriteFile(root / "project.hhp", hhp);

  const testsupport::TRunResult run = testsupport::RunProgram("chmcmd", {"project.hhp"}, root.string());
  if (run.Status != 0 || !fs::is_regular_file(chmPath)) {
    ADD_FAILURE() << "chmcmd did not compile the project (status " << run.Status << "):\n" << run.Out << run.Err;
    return {};
  }
  return chmPath.string();
}

}  // namespace tessalytest

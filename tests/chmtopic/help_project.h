#pragma once
// Small HTML Help projects compiled into CHM files by chmcmd (Free Pascal's help
// compiler) inside a test's temporary folder.

#include <optional>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace tessalytest {

struct THelpProject {
  /// The [OPTIONS] "Default topic" line; none when not set.
  std::optional<std::string> DefaultTopic;
  /// The default file of a [WINDOWS] definition; no [WINDOWS] section when not set.
  std::optional<std::string> WindowDefaultFile;
  /// The window's home page (the field after the default file).
  std::string WindowHome;
  /// The [OPTIONS] "Language" line: the LCID and the language's name.
  std::string Language = "0x409 English (United States)";
  /// Pages written and listed under [FILES]; folders in their names are created.
  std::vector<std::string> Pages{"index.htm"};
};

/// Writes the project into the folder and compiles it to the CHM named chmName
/// there (folders in the name are created). Returns the CHM's path; fails the
/// current test (and returns empty) when chmcmd does not produce it.
std::string CompileHelp(const testsupport::TTempFolder& folder, const THelpProject& project,
                        const std::string& chmName = "help.chm");

/// The reason to skip tests that need chmcmd, or empty when it is available.
std::string MissingHelpCompiler();

}  // namespace tessalytest

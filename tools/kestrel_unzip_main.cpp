// kestrel-unzip: lists or extracts the entries of a zip archive.

#include <string>
#include <vector>

#include "tools/kestrel_unzip_tool.h"

int main(int argc, char** argv) {
  // Without an invocation name the usage text still needs one to show.
  const std::string programName = argc > 0 && argv[0] != nullptr ? argv[0] : "kestrel-unzip";
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return kestrel::tool::RunKestrelUnZip(programName, arguments);
}

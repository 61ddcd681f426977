// kestrel-unzip: extracts, lists or tests the entries of a zip archive.

#include <string>
#include <vector>

#include "tools/kestrel_unzip_tool.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return kestrel::tool::RunKestrelUnZip(arguments);
}

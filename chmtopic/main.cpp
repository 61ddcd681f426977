// tessaly: prints the address under which a help viewer opens a CHM file's default topic.

#include <string>
#include <vector>

#include "chmtopic/tessaly.h"

int main(int argc, char** argv) {
  // Without an invocation name the usage text still needs one to show.
  const std::string programName = argc > 0 && argv[0] != nullptr ? argv[0] : "tessaly";
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return tessaly::RunTessaly(programName, arguments);
}

// corvane: makes an XML document viewable in a browser through an XSL template.

#include <string>
#include <vector>

#include "converter/run_converter.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return corvane::RunConverter(arguments);
}

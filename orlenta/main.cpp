#include <string>

#include "service.h"

int main(int argc, char** argv) {
  // The switches are found in the command line as one text, program path included.
  std::string commandLine;
  for (int i = 0; i < argc; ++i) {
    if (i) commandLine += ' ';
    commandLine += argv[i];
  }
  orlenta::ServiceModule module;
  return module.Main(commandLine);
}

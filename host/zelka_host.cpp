// zelka-host: a command-line host for the module. Pipe mode (--pipe, and the default when the
// input is not a terminal) speaks raw protocol text on stdin and stdout.
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <string>

#include "module_client.h"
#include "pipe_session.h"

namespace {

void printUsage(std::ostream& out) {
  out << "usage: zelka-host [--pipe] [--module PATH] GHOST_DIR\n"
         "  --pipe         read raw requests on stdin (each ended by an empty line) and write\n"
         "                 the raw responses on stdout; the default when stdin is not a terminal\n"
         "  --module PATH  the module to load (default: zelka.so beside this program)\n";
}

}  // namespace

int main(int argc, char** argv) {
  bool pipeMode = isatty(STDIN_FILENO) == 0;
  std::string modulePath;
  std::string ghostDirectory;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--pipe") {
      pipeMode = true;
    } else if (arg == "--module" && i + 1 < argc) {
      modulePath = argv[++i];
    } else if (arg == "--help" || arg == "-h") {
      printUsage(std::cout);
      return 0;
    } else if (!arg.empty() && arg[0] == '-') {
      std::cerr << "zelka-host: unknown option " << arg << "\n";
      printUsage(std::cerr);
      return 2;
    } else if (ghostDirectory.empty()) {
      ghostDirectory = arg;
    } else {
      std::cerr << "zelka-host: more than one ghost directory\n";
      return 2;
    }
  }
  if (ghostDirectory.empty()) {
    printUsage(std::cerr);
    return 2;
  }
  if (!pipeMode) {
    std::cerr << "zelka-host: the interactive session is not available yet; use --pipe\n";
    return 2;
  }
  if (modulePath.empty()) modulePath = zelka::host::executableDirectory() + "zelka.so";

  zelka::host::ModuleClient module;
  if (!module.open(modulePath)) {
    std::cerr << "zelka-host: " << module.error() << "\n";
    return 1;
  }
  if (!module.load(ghostDirectory)) {
    std::cerr << "zelka-host: " << module.error() << "\n";
    module.close();
    return 1;
  }
  zelka::host::runPipeSession(std::cin, std::cout, std::cerr,
                              [&](const std::string& text) { return module.request(text); });
  module.close();
  return 0;
}

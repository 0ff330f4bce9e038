#include <csignal>
#include <iostream>

#include "cli/Korvoctl.h"

// No setlocale: korvoctl prints in the C locale, and it never switches the communication error
// log on, the one user of the user's date and time forms. Loading the locale files would cost a
// short run a sixth of its time.
int main(int argc, char** argv) {
  // A closed pipe (korvoctl watch | head) is an output error like a full disk: a message and
  // exit code 2, the journal and the statistics still written; not a silent death.
  std::signal(SIGPIPE, SIG_IGN);
  std::vector<std::string> args(argv + 1, argv + argc);
  return RunKorvoctl(args, std::cout, std::cerr, std::cin);
}

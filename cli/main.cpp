#include <clocale>
#include <iostream>

#include "cli/Korvoctl.h"

int main(int argc, char** argv) {
  // The error log's date and time in the user's own forms; only the time category, which is
  // all the log uses, so that a start does not load every locale file.
  std::setlocale(LC_TIME, "");
  std::vector<std::string> args(argv + 1, argv + argc);
  return RunKorvoctl(args, std::cout, std::cerr, std::cin);
}

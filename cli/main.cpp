#include <clocale>
#include <iostream>

#include "cli/Korvoctl.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");  // the error log's date and time in the user's own forms
  std::vector<std::string> args(argv + 1, argv + argc);
  return RunKorvoctl(args, std::cout, std::cerr, std::cin);
}

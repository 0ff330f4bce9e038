#include "foundation/CommandLine.h"

#include <utility>

namespace {
struct Arguments {
  std::string program;
  std::optional<std::string> testing;
};
Arguments& Held() {
  static Arguments args;
  return args;
}
}  // namespace

namespace CommandLine {

std::string ArgumentString() {
  const Arguments& a = Held();
  return a.testing ? *a.testing : a.program;
}

void SetArgumentString(std::string args) { Held().program = std::move(args); }

void SetArgumentStringForTesting(std::optional<std::string> args) {
  Held().testing = std::move(args);
}

}  // namespace CommandLine

#include "shell/CommandLine.h"

#include <QCoreApplication>
#include <QStringList>

namespace {
std::optional<std::string>& Override() {
  static std::optional<std::string> args;
  return args;
}
}  // namespace

namespace CommandLine {

std::string ArgumentString() {
  if (Override()) return *Override();
  QStringList args = QCoreApplication::arguments();
  if (!args.isEmpty()) args.removeFirst();
  return args.join(QLatin1Char(' ')).toStdString();
}

void SetArgumentStringForTesting(std::optional<std::string> args) { Override() = std::move(args); }

}  // namespace CommandLine

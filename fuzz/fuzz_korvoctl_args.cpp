// Feeds arbitrary command lines (arguments separated by NUL bytes) to korvoctl's parser. Each
// runs behind --help: korvoctl parses the whole line, then shows its usage or the usage error
// and returns before it reads a settings file, opens an adapter or creates a file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Korvoctl.h"
#include "fuzz/FuzzCheck.h"

using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args{"--help"};
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (std::size_t pos = 0; pos <= text.size();) {
    const std::size_t end = std::min(text.find('\0', pos), text.size());
    args.emplace_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  std::ostringstream out, err;
  std::istringstream in;
  const int rc = RunKorvoctl(args, out, err, in);
  static const std::string usage = KorvoctlUsage();
  if (rc == kExitOk) {
    Check(out.str() == usage && err.str().empty());
  } else {
    Check(rc == kExitUsage && out.str().empty());
    const std::string e = err.str();
    constexpr std::string_view kTail = "\nTry 'korvoctl --help'.\n";
    Check(e.rfind("korvoctl: ", 0) == 0 && e.size() > kTail.size() &&
          e.compare(e.size() - kTail.size(), kTail.size(), kTail) == 0);
  }
  return 0;
}

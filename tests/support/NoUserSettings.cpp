// Linked into every test program. The settings lookup falls back to the XDG configuration
// directories; point them where nothing is, so the developer's ~/.config/korvo and the
// machine's /etc/xdg/korvo never reach a test. Tests of the lookup set their own.
#include <cstdlib>

namespace {
const bool kNoUserSettings = [] {
  ::setenv("XDG_CONFIG_HOME", "/nonexistent/korvo-tests", 1);
  ::setenv("XDG_CONFIG_DIRS", "/nonexistent/korvo-tests", 1);
  return true;
}();
}  // namespace

// The korvoctl program as built: a run without instruments loads no instrument library, and a
// run with them copes without the module.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "support/TempDir.h"

namespace {

struct Outcome {
  int status = -1;
  std::string output;  // stdout and stderr
};

Outcome Shell(const std::string& command) {
  Outcome o;
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) return o;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) o.output.append(buf, n);
  const int w = ::pclose(p);
  o.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
  return o;
}

// The libraries korvoctl's dynamic section names.
std::vector<std::string> Needed(const std::string& program) {
  std::vector<std::string> libs;
  std::istringstream s(Shell("readelf -d '" + program + "'").output);
  for (std::string line; std::getline(s, line);) {
    const auto at = line.find("(NEEDED)");
    const auto open = line.find('[');
    if (at != std::string::npos && open != std::string::npos)
      libs.push_back(line.substr(open + 1, line.find(']') - open - 1));
  }
  return libs;
}

}  // namespace

TEST(KorvoctlLinking, NeedsNoInstrumentLibraryNorSharedCxxRuntime) {
  const std::vector<std::string> needed = Needed(KORVOCTL_PROGRAM);
  ASSERT_FALSE(needed.empty());
  for (const std::string& lib : needed) {
    EXPECT_EQ(lib.find("sigrok"), std::string::npos) << lib;
    EXPECT_EQ(lib.find("glib"), std::string::npos) << lib;
    if (KORVOCTL_STATIC_CXX) {
      EXPECT_EQ(lib.find("libstdc++"), std::string::npos) << lib;
      EXPECT_EQ(lib.find("libgcc_s"), std::string::npos) << lib;
    }
  }
}

TEST(KorvoctlLinking, ReadLoadsNoInstrumentLibraryThoughSomeAreSet) {
  TempDir dir("korvo_linking");
  const std::string ini = dir.Write("korvo.ini", "[Instruments]\nGen=demo\n");
  const Outcome o = Shell("LD_DEBUG=files KORVO_ADAPTER=sim '" + std::string(KORVOCTL_PROGRAM) +
                          "' --ini '" + ini + "' read 0x13");
  EXPECT_EQ(o.status, 0) << o.output;
  EXPECT_NE(o.output.find("0x13 0x"), std::string::npos) << o.output;
  EXPECT_EQ(o.output.find("sigrok"), std::string::npos) << o.output;
}

TEST(KorvoctlLinking, WithoutTheModuleEveryInstrumentIsAbsent) {
  TempDir dir("korvo_linking");
  const std::string program = dir.File("korvoctl");
  std::filesystem::copy_file(KORVOCTL_PROGRAM, program);
  const std::string ini = dir.Write("korvo.ini", "");
  const Outcome o = Shell("KORVO_ADAPTER=sim '" + program + "' --ini '" + ini +
                          "' --instrument demo --instrument 'demo label=Gen' instruments");
  EXPECT_EQ(o.status, 2) << o.output;
  for (const std::string label : {"demo", "Gen"})
    EXPECT_NE(o.output.find(label + ": demo - absent: cannot load the instrument module " +
                            dir.File("korvo-sigrok.so") + ": cannot open shared object file"),
              std::string::npos)
        << o.output;
}

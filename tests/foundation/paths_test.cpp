#include "foundation/Paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using Paths::ConfigDirs;

constexpr const char* kBeside = "/opt/korvo/bin/korvo.ini";
constexpr const char* kUser = "/home/ann/.config/korvo/korvo.ini";
constexpr const char* kSystem = "/etc/xdg/korvo/korvo.ini";

const ConfigDirs kPlainEnv{"/home/ann", "", ""};

// Creates the files (and, for names ending in '/', directories) under a scratch root.
struct FakeRoot {
  explicit FakeRoot(const std::vector<std::string>& entries) {
    for (const std::string& e : entries) {
      const fs::path p = fs::path(dir.Path()) / e.substr(1);
      if (e.back() == '/') {
        fs::create_directories(p);
      } else {
        fs::create_directories(p.parent_path());
        dir.Write(e.substr(1), "[Target]\nAddress=18\n");
      }
    }
  }
  TempDir dir{"korvo_paths"};
};

struct LookupCase {
  std::vector<std::string> present;
  std::optional<std::string> found;
};

TEST(SettingsLookup, TheFirstExistingFileInOrderWins) {
  const LookupCase cases[] = {
      {{}, std::nullopt},
      {{kSystem}, kSystem},
      {{kUser, kSystem}, kUser},
      {{kBeside, kUser, kSystem}, kBeside},
  };
  for (const LookupCase& c : cases) {
    FakeRoot root(c.present);
    EXPECT_EQ(Paths::FindSettingsFile(kBeside, kPlainEnv, root.dir.Path()), c.found)
        << ::testing::PrintToString(c.present);
  }
}

}  // namespace

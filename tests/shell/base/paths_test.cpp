#include "shell/base/Paths.h"

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
      {{kBeside, kSystem}, kBeside},
      {{kUser}, kUser},
  };
  for (const LookupCase& c : cases) {
    FakeRoot root(c.present);
    EXPECT_EQ(Paths::FindSettingsFile(kBeside, kPlainEnv, root.dir.Path()), c.found)
        << ::testing::PrintToString(c.present);
  }
}

TEST(SettingsLookup, OnlyReadableRegularFilesCount) {
  const LookupCase cases[] = {
      {{std::string(kBeside) + "/", kSystem}, kSystem},  // a directory named korvo.ini
      {{std::string(kUser) + "/"}, std::nullopt},
  };
  for (const LookupCase& c : cases) {
    FakeRoot root(c.present);
    EXPECT_EQ(Paths::FindSettingsFile(kBeside, kPlainEnv, root.dir.Path()), c.found)
        << ::testing::PrintToString(c.present);
  }
  // A dangling symbolic link beside the program does not hide the user's file.
  FakeRoot root({kUser, "/opt/korvo/bin/"});
  fs::create_symlink("/nowhere/korvo.ini",
                     fs::path(root.dir.Path()) / std::string(kBeside).substr(1));
  EXPECT_EQ(Paths::FindSettingsFile(kBeside, kPlainEnv, root.dir.Path()), kUser);
}

TEST(SettingsLookup, XdgVariablesChooseTheDirectories) {
  struct Case {
    ConfigDirs env;
    std::vector<std::string> candidates;
  };
  const Case cases[] = {
      {{"/home/ann", "", ""}, {kBeside, kUser, kSystem}},
      {{"/home/ann", "/cfg/", "/site:/etc/xdg"},
       {kBeside, "/cfg/korvo/korvo.ini", "/site/korvo/korvo.ini", kSystem}},
      // Relative directories count as unset.
      {{"/home/ann", "cfg", "site::rel"}, {kBeside, kUser, kSystem}},
      {{"/home/ann", "", "rel:/site"}, {kBeside, kUser, "/site/korvo/korvo.ini"}},
      // No home directory: no user file, unless XDG_CONFIG_HOME names one.
      {{"", "", ""}, {kBeside, kSystem}},
      {{"", "/cfg", ""}, {kBeside, "/cfg/korvo/korvo.ini", kSystem}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Paths::SettingsCandidates(kBeside, c.env), c.candidates)
        << c.env.home << " | " << c.env.xdgConfigHome << " | " << c.env.xdgConfigDirs;
  }
}

}  // namespace

// Loading libsigrok's module: where it is looked for, and what a missing or foreign one does.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "instruments/Bench.h"
#include "instruments/SigrokBackend.h"
#include "instruments/SigrokModule.h"
#include "support/TempDir.h"

using namespace instruments;

namespace {

InstrumentConfig Config(const std::string& text) {
  ConfigResult r = ParseInstrument(text);
  if (!r.config) ADD_FAILURE() << r.error;
  return r.config.value_or(InstrumentConfig{});
}

std::string ProgramDir() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

}  // namespace

TEST(SigrokLoader, LooksBesideTheProgramThenInLibKorvo) {
  const std::filesystem::path dir = ProgramDir();
  EXPECT_EQ(SigrokModulePaths(),
            (std::vector<std::string>{(dir / "korvo-sigrok.so").string(),
                                      (dir.parent_path() / "lib/korvo/korvo-sigrok.so").string()}));
}

TEST(SigrokLoader, MissingModuleLeavesConfigsUncheckedAndNamesItsPaths) {
  TempDir dir("korvo_nomodule");
  const std::string first = dir.File("korvo-sigrok.so"), second = dir.File("lib/korvo-sigrok.so");
  const std::shared_ptr<Backend> backend = MakeSigrokBackend({first, second});
  EXPECT_EQ(backend->Check(Config("no-such-driver")), "");
  std::string reason;
  EXPECT_EQ(backend->Open(Config("demo"), reason), nullptr);
  EXPECT_EQ(reason, "cannot load the instrument module " + first +
                        ": cannot open shared object file: No such file or directory (nor at " +
                        second + ")");
}

struct ForeignModule {
  const char* path;
  const char* error;  // what the reason ends with
};

class SigrokLoaderRefuses : public ::testing::TestWithParam<ForeignModule> {};

TEST_P(SigrokLoaderRefuses, ForeignModuleMakesInstrumentsAbsent) {
  TempDir dir("korvo_foreign");
  const std::string path = std::string(GetParam().path).empty()
                               ? dir.Write("korvo-sigrok.so", "not ELF")
                               : GetParam().path;
  std::string reason;
  EXPECT_EQ(MakeSigrokBackend({path})->Open(Config("demo"), reason), nullptr);
  EXPECT_EQ(reason.rfind("cannot load the instrument module " + path + ": ", 0), 0u) << reason;
  EXPECT_NE(reason.find(GetParam().error), std::string::npos) << reason;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SigrokLoaderRefuses,
    ::testing::Values(ForeignModule{"", "file too short"},
                      ForeignModule{KORVO_NO_ENTRY_MODULE,
                                    "undefined symbol: korvo_sigrok_abi_version"},
                      ForeignModule{KORVO_OLD_ABI_MODULE, "interface version 0, expected 3"}));

TEST(SigrokLoader, NextPathIsTriedWhenTheFirstIsMissing) {
  TempDir dir("korvo_nomodule");
  std::string reason;
  const auto device = MakeSigrokBackend({dir.File("korvo-sigrok.so"), SigrokModulePaths().front()})
                          ->Open(Config("demo"), reason);
  ASSERT_NE(device, nullptr) << reason;
  EXPECT_EQ(device->Info().channels.size(), 5u);
}

TEST(SigrokLoader, BenchNamesTheMissingModuleAsTheAbsentReason) {
  TempDir dir("korvo_nomodule");
  Bench bench(MakeSigrokBackend({dir.File("korvo-sigrok.so")}), {Config("demo")}, {});
  bench.Start();
  bench.WaitSettled(std::chrono::seconds(10));
  const std::vector<InstrumentState> states = bench.States();
  ASSERT_EQ(states.size(), 1u);
  EXPECT_FALSE(states[0].present);
  EXPECT_NE(
      states[0].reason.find("cannot load the instrument module " + dir.File("korvo-sigrok.so")),
      std::string::npos)
      << states[0].reason;
  bench.Stop();
}

TEST(SigrokLoader, ValueHandlerExceptionReachesTheCaller) {
  std::string reason;
  const auto device = MakeSigrokBackend()->Open(Config("demo channels=A0"), reason);
  ASSERT_NE(device, nullptr) << reason;
  int calls = 0;
  EXPECT_THROW(device->Read(
                   [&](const RawValue&) {
                     ++calls;
                     throw std::runtime_error("full");
                   },
                   reason),
               std::runtime_error);
  EXPECT_EQ(calls, 1);
}

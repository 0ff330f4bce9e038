#include <gtest/gtest.h>

#include "RegisterRig.h"
#include "registers/Spins.h"
#include "support/ObserverLog.h"

namespace {

using recording::AccessSource;
using Scope = RegisterAccess::SourceScope;

class RegisterObservationTest : public RegisterRig {
 protected:
  RegisterObservationTest() { regs_.AddObserver(log_); }
  void Read(uint8_t address) {
    int16_t v = 0;
    regs_.ReadRegister("CS: Status", address, v, 103);
  }
  void Write(uint8_t address, int16_t word) {
    regs_.WriteRegister("CS: Status", address, word, 103);
  }

  RegisterLog log_;
};

TEST_F(RegisterObservationTest, TheOutermostScopeNamesTheCaller) {
  struct Case {
    std::vector<AccessSource> scopes;  // outermost first
    bool write;
    std::string source;
  } cases[] = {
      {{}, false, "single read"},
      {{}, true, "write"},
      {{AccessSource::kScanTick}, false, "scan tick"},
      {{AccessSource::kSpin}, true, "spin"},
      {{AccessSource::kKorvoctl, AccessSource::kSpin}, true, "korvoctl"},
      {{AccessSource::kBurn, AccessSource::kVerifyReadBack}, false, "burn"},
  };
  for (const auto& c : cases) {
    log_.events.clear();
    std::vector<std::unique_ptr<Scope>> scopes;
    for (AccessSource s : c.scopes) scopes.push_back(std::make_unique<Scope>(regs_, s));
    if (c.write)
      Write(0x15, 1);
    else
      Read(0x15);
    ASSERT_EQ(log_.events.size(), 1u);
    EXPECT_EQ(recording::SourceName(log_.events[0].source), c.source);
  }
}

TEST_F(RegisterObservationTest, OneEventPerAccessWithItsOutcome) {
  modGlobals::ReadRetryCount = 2;
  fake_.words[0x15] = 0x41A0;
  fake_.statuses = {8, 0};  // the read succeeds on its second attempt
  Read(0x15);
  fake_.statuses = {8, 8, 94};
  Read(0x13);
  Write(0x3F, -1);
  fake_.statuses = {772};
  Write(0x12, 0x10);
  std::vector<std::string> accesses;
  for (const std::string& l : log_.lines)
    if (l != "flush") accesses.push_back(l);
  EXPECT_EQ(accesses,
            (std::vector<std::string>{"single read read 15 41A0 0", "single read read 13 - 94",
                                      "write write 3F FFFF 0", "write write 12 10 772"}));
}

TEST_F(RegisterObservationTest, SingleAccessesFlushAtOnceABatchAtItsEnd) {
  Read(0x13);
  {
    const Scope tick(regs_, AccessSource::kScanTick, true);
    Read(0x13);
    Read(0x12);
  }
  EXPECT_EQ(log_.lines,
            (std::vector<std::string>{"single read read 13 0 0", "flush", "scan tick read 13 0 0",
                                      "scan tick read 12 0 0", "flush"}));
}

TEST_F(RegisterObservationTest, AReadingJoinsTheAccessesAndFlushesOutsideABatch) {
  const recording::InstrumentReading reading{{}, "PSU", "I1", "PSU CH1 current", "current", "mA",
                                             12.0};
  regs_.NotifyInstrumentReading(reading);
  {
    const Scope tick(regs_, AccessSource::kScanTick, true);
    Read(0x13);
    regs_.NotifyInstrumentReading(reading);
  }
  EXPECT_EQ(log_.lines,
            (std::vector<std::string>{"measure PSU CH1 current", "flush", "scan tick read 13 0 0",
                                      "measure PSU CH1 current", "flush"}));
}

TEST_F(RegisterObservationTest, AFailureIsFlushedBeforeItsMessageShows) {
  std::vector<std::string> seenAtMessage;
  sink_.onShow = [&](const std::string&) { seenAtMessage = log_.lines; };
  const Scope tick(regs_, AccessSource::kScanTick, true);
  fake_.statuses = {8};
  Read(0x13);
  ASSERT_FALSE(seenAtMessage.empty());
  EXPECT_EQ(seenAtMessage.back(), "flush");
}

TEST_F(RegisterObservationTest, AnObserverMayDetachWhileItIsTold) {
  struct Leaver : recording::RegisterObserver {
    RegisterAccess* regs = nullptr;
    int told = 0;
    void OnRegisterAccess(const recording::RegisterEvent&) override {
      ++told;
      regs->RemoveObserver(*this);
    }
  } leaver;
  leaver.regs = &regs_;
  regs_.AddObserver(leaver);
  Read(0x13);
  Read(0x13);
  EXPECT_EQ(leaver.told, 1);
  EXPECT_EQ(log_.events.size(), 2u);
}

TEST_F(RegisterObservationTest, SpinAndBurnNameThemselvesUnlessACallerDid) {
  Spins::SpinProgrammer programmer(regs_);
  programmer.BurnEeprom();
  ASSERT_FALSE(log_.events.empty());
  EXPECT_EQ(recording::SourceName(log_.events.back().source), "burn");
  log_.events.clear();
  {
    const Scope korvoctl(regs_, AccessSource::kKorvoctl);
    programmer.ApplySpin("Custom 1");
  }
  ASSERT_FALSE(log_.events.empty());
  EXPECT_EQ(recording::SourceName(log_.events.back().source), "korvoctl");
}

}  // namespace

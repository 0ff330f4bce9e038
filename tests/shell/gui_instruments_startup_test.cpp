// The entry routine's instruments: the settings file's [Instruments] section read beside the
// scan, and nothing of the instrument library loaded when it names none.
#include <gtest/gtest.h>

#include "instruments/ScriptedBackend.h"
#include "monitor/MonitorFixture.h"
#include "shell/StartUp.h"

namespace {

class InstrumentsStartUpTest : public MonitorFixture {
 protected:
  void Attach(const std::string& ini) {
    LoadMonitored(ini);
    AttachInstruments(*window, ConfiguredInstruments(IniPath()), [this] {
      ++made;
      return backend;
    });
  }
  std::vector<std::string> Labels() const {
    std::vector<std::string> labels;
    for (const auto& s : monitor->InstrumentStates()) labels.push_back(s.label);
    return labels;
  }

  std::shared_ptr<ScriptedBackend> backend = std::make_shared<ScriptedBackend>();
  int made = 0;
};

TEST_F(InstrumentsStartUpTest, NoInstrumentConfiguredLoadsNoInstrumentLibrary) {
  Attach("[Settings]\nCommMode=0\n");
  EXPECT_EQ(made, 0);
  EXPECT_FALSE(monitor->HasInstruments());
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(InstrumentsStartUpTest, ConfiguredInstrumentsAreReadInTheirFileOrder) {
  backend->Add("PSU");
  backend->Add("Load");
  Attach("[Instruments]\nPSU=fake:conn=a\nLoad=fake:conn=b channels=I1\n");
  EXPECT_EQ(made, 1);
  EXPECT_EQ(Labels(), (std::vector<std::string>{"PSU", "Load"}));
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(InstrumentsStartUpTest, ARefusedEntryIsNamedOnceAndTheOthersAreRead) {
  backend->Add("PSU");
  Attach("[Instruments]\nPSU=fake\nBad=:x\n");
  EXPECT_EQ(Labels(), (std::vector<std::string>{"PSU"}));
  ASSERT_EQ(sink.Count(), 1u);
  EXPECT_EQ(sink.messages[0],
            std::string("These instruments of the settings file are not read:\r\n[Instruments] "
                        "Bad: ") +
                instruments::ParseInstrument(":x", "Bad").error);
}

TEST_F(InstrumentsStartUpTest, AnInstrumentAddedLaterUsesTheSameLibrary) {
  backend->Add("PSU");
  backend->Add("GEN");
  Attach("[Instruments]\nPSU=fake\n");
  EXPECT_EQ(monitor->AddInstrument("fake label=GEN"), "");
  EXPECT_EQ(made, 1);
  EXPECT_EQ(Labels(), (std::vector<std::string>{"PSU", "GEN"}));
}

}  // namespace

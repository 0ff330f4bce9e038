// The simulated board's scenario: conditions that change with the board's clock.
#include "SimRig.h"
#include "drivers/Drivers.h"
#include "support/ManualClock.h"

namespace sim {
namespace {

using namespace std::chrono;

TEST(SimScenarioParse, ABadLineIsRefusedWithItsNumber) {
  const std::pair<std::string, std::string> cases[] = {
      {"1 AcPresent=0\n2.5 Frob=1\n", "line 2: unknown key 'Frob'"},
      {"x AcPresent=0\n", "line 1: the time 'x' is not a number of seconds from 0 to 31536000"},
      {"99999999 AcPresent=0\n", "line 1: the time '99999999' is not"},
      {"# ok\n\n3 AcPresent=2\n", "line 3: AcPresent must be 0 or 1"},
      {"5 Charging=0\n4 Charging=1\n", "line 2: the time goes back"},
      {std::string("1 AcPresent=0\n\x01\x02\x03\n", 17), "line 2: not text"},
  };
  for (const auto& [text, expected] : cases) {
    std::string error;
    EXPECT_FALSE(ParseScenario(text, error)) << text;
    EXPECT_EQ(error.rfind(expected, 0), 0u) << error;
  }
}

TEST(SimScenarioParse, StepsAtOneTimeAreKeptInFileOrder) {
  std::string error;
  const auto s = ParseScenario(
      "0 AcPresent=0\n0 Charging=1\n1.5 AcPresent=1\n1.5 BatteryTemperature=hot\n", error);
  ASSERT_TRUE(s) << error;
  using enum ScenarioStep::Key;
  const std::pair<int64_t, ScenarioStep::Key> expected[] = {
      {0, AcPresent}, {0, Charging}, {1500000, AcPresent}, {1500000, BatteryTemperature}};
  ASSERT_EQ(s->steps.size(), std::size(expected));
  for (std::size_t i = 0; i < s->steps.size(); ++i) {
    EXPECT_EQ(s->steps[i].at.count(), expected[i].first) << i;
    EXPECT_EQ(s->steps[i].key, expected[i].second) << i;
  }
}

TEST(SimScenarioParse, AByteOrderMarkAndAnyLineEndAreTaken) {
  const std::string bom = "\xEF\xBB\xBF";
  const std::string cases[] = {
      "1 AcPresent=0\n# pulled\n2 AcPresent=1\n",
      bom + "1 AcPresent=0\n# pulled\n2 AcPresent=1\n",
      "1 AcPresent=0\r\n# pulled\r\n2 AcPresent=1\r\n",
      "1 AcPresent=0\r# pulled\r2 AcPresent=1\r",
      bom + "1 AcPresent=0\r# pulled\n2 AcPresent=1",
  };
  for (const std::string& text : cases) {
    std::string error;
    const std::optional<Scenario> s = ParseScenario(text, error);
    ASSERT_TRUE(s) << error;
    ASSERT_EQ(s->steps.size(), 2u) << text;
    EXPECT_EQ(s->steps[1].line, 3) << text;
    EXPECT_EQ(s->steps[1].value, 1) << text;
  }
}

TEST(SimScenarioParse, ALongTokenIsShownByItsFirstFortyCharacters) {
  const std::string key(10 << 20, 'K');
  const std::string time(100, '7');
  const std::pair<std::string, std::string> cases[] = {
      {"1 " + key + "=1\n", "line 1: unknown key '" + std::string(40, 'K') + "...'"},
      {time + " AcPresent=1\n", "line 1: the time '" + std::string(40, '7') + "...' is not"},
  };
  for (const auto& [text, expected] : cases) {
    std::string error;
    EXPECT_FALSE(ParseScenario(text, error));
    EXPECT_EQ(error.rfind(expected, 0), 0u) << error.substr(0, 200);
    EXPECT_LT(error.size(), 200u);
  }
}

class SimScenarioBoard : public SimRig {
 protected:
  void Start(const std::string& text) {
    std::string error;
    Board::Options o;
    o.scenario = *ParseScenario(text, error);
    o.clock = &clock;
    Attach(std::make_shared<Board>(o));  // opens the adapter: the scenario's time starts
  }
  ManualClock clock;
};

TEST_F(SimScenarioBoard, StepsApplyWhenTheClockPassesTheirTime) {
  Start("2.5 AcPresent=0\n5 AcPresent=1\n");
  const std::pair<milliseconds, uint16_t> cases[] = {
      {milliseconds(0), kStatusAcDet | kStatusAc2Sys},
      {milliseconds(2499), kStatusAcDet | kStatusAc2Sys},
      {milliseconds(1), kStatusAcBelowBat | kStatusBat2Sys | kStatusChgOff},
      {milliseconds(2500), kStatusAcDet | kStatusAc2Sys},
  };
  for (const auto& [advance, status] : cases) {
    clock.Advance(advance);
    EXPECT_EQ(Read(kStatus), status);
  }
}

TEST_F(SimScenarioBoard, StatusShowsTemperatureAndShutdown) {
  Start(
      "1 BatteryTemperature=hot\n2 BatteryTemperature=cold\n3 BatteryTemperature=normal\n"
      "4 ThermalShutdown=1\n5 ThermalShutdown=0\n");
  const uint16_t on = kStatusAcDet | kStatusAc2Sys;
  const uint16_t expected[] = {
      on, on | kStatusBHot | kStatusChgOff,  on | kStatusBCold | kStatusChgOff,
      on, on | kStatusTshut | kStatusChgOff, on};
  for (uint16_t status : expected) {
    EXPECT_EQ(Read(kStatus), status);
    clock.Advance(seconds(1));
  }
}

}  // namespace
}  // namespace sim

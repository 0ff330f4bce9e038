#include <gtest/gtest.h>

#include <prometheus/text_serializer.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "Exposition.h"
#include "instruments/Bench.h"
#include "instruments/ScriptedBackend.h"
#include "metrics/InstrumentMetrics.h"
#include "metrics/MetricFamilies.h"
#include "support/RecordingSink.h"

namespace {

using namespace std::chrono_literals;
using Labels = std::map<std::string, std::string>;

const std::string kVolts = "korvo_instrument_voltage_volts";
const std::string kAmperes = "korvo_instrument_current_amperes";

Labels Channel(const std::string& instrument, const std::string& channel) {
  return {{"instrument", instrument}, {"channel", channel}};
}

recording::InstrumentReading Reading(std::string_view instrument, std::string_view channel,
                                     std::string_view quantity, std::string_view unit,
                                     double value) {
  return {{}, instrument, channel, "", quantity, unit, value};
}

exposition::Parsed Scrape(const metrics::InstrumentMetrics& m) {
  metrics::BenchMetrics bench({});
  exposition::Parsed p =
      exposition::Parse(prometheus::TextSerializer().Serialize(metrics::Families(bench, &m)));
  EXPECT_EQ(p.error, "");
  return p;
}

TEST(InstrumentMetricsTest, ReadingsAreInBaseUnitsOneFamilyPerQuantityAndUnit) {
  struct Case {
    const char* quantity;
    const char* unit;  // as the instruments deliver it
    double value;
    const char* family;
    double expected;
  } cases[] = {
      {"voltage", "mV", 19000, "korvo_instrument_voltage_volts", 19},
      {"current", "mA", 2048, "korvo_instrument_current_amperes", 2.048},
      {"power", "W", 38.9, "korvo_instrument_power_watts", 38.9},
      {"frequency", "Hz", 50, "korvo_instrument_frequency_hertz", 50},
      {"duty cycle", "%", 25, "korvo_instrument_duty_cycle_ratio", 0.25},
      {"temperature", "degF", 212, "korvo_instrument_temperature_celsius", 100},
      {"energy", "Wh", 2, "korvo_instrument_energy_joules", 7200},
      {"resistance", "Ohm", 4700, "korvo_instrument_resistance_ohms", 4700},
      {"continuity", "", 1, "korvo_instrument_continuity", 1},
  };
  for (const Case& c : cases) {
    metrics::InstrumentMetrics m({"DMM"});
    m.OnInstrumentReading(Reading("DMM", "P1", c.quantity, c.unit, c.value));
    const auto p = Scrape(m);
    ASSERT_TRUE(p.families.count(c.family)) << c.family;
    EXPECT_EQ(p.families.at(c.family).type, "gauge") << c.family;
    EXPECT_FALSE(p.families.at(c.family).help.empty()) << c.family;
    const auto v = p.Value(c.family, Channel("DMM", "P1"));
    ASSERT_TRUE(v) << c.family;
    EXPECT_NEAR(*v, c.expected, 1e-9) << c.family;
  }
}

TEST(InstrumentMetricsTest, AValueKeepsASinglePrecisionReadingsSevenDigits) {
  metrics::InstrumentMetrics m({"PSU"});
  // 15.2 V as a float, delivered in mV.
  m.OnInstrumentReading(Reading("PSU", "V1", "voltage", "mV", static_cast<double>(15.2f) * 1000));
  EXPECT_EQ(Scrape(m).Value(kVolts, Channel("PSU", "V1")), 15.2);
}

TEST(InstrumentMetricsTest, EachChannelHoldsItsNewestReading) {
  metrics::InstrumentMetrics m({"PSU", "Load"});
  m.OnInstrumentReading(Reading("PSU", "V1", "voltage", "mV", 5000));
  m.OnInstrumentReading(Reading("PSU", "V2", "voltage", "mV", 3300));
  m.OnInstrumentReading(Reading("Load", "V1", "voltage", "mV", 4900));
  m.OnInstrumentReading(Reading("PSU", "V1", "voltage", "mV", 12000));
  const auto p = Scrape(m);
  EXPECT_EQ(p.Count(kVolts), 3u);
  EXPECT_EQ(p.Value(kVolts, Channel("PSU", "V1")), 12);
  EXPECT_EQ(p.Value(kVolts, Channel("PSU", "V2")), 3.3);
  EXPECT_EQ(p.Value(kVolts, Channel("Load", "V1")), 4.9);
}

TEST(InstrumentMetricsTest, EveryInstrumentIsDownUntilSaidUp) {
  metrics::InstrumentMetrics m({"PSU", "Load"});
  auto p = Scrape(m);
  EXPECT_EQ(p.Value("korvo_instrument_up", {{"instrument", "PSU"}}), 0);
  EXPECT_EQ(p.Value("korvo_instrument_up", {{"instrument", "Load"}}), 0);
  m.SetUp("Load", true);
  p = Scrape(m);
  EXPECT_EQ(p.Value("korvo_instrument_up", {{"instrument", "PSU"}}), 0);
  EXPECT_EQ(p.Value("korvo_instrument_up", {{"instrument", "Load"}}), 1);
}

TEST(InstrumentMetricsTest, AnAbsentInstrumentsReadingsHideUntilNewOnesCome) {
  metrics::InstrumentMetrics m({"PSU", "Load"});
  m.SetUp("PSU", true);
  m.SetUp("Load", true);
  m.OnInstrumentReading(Reading("PSU", "V1", "voltage", "mV", 5000));
  m.OnInstrumentReading(Reading("Load", "I1", "current", "mA", 100));
  m.SetUp("PSU", false);
  auto p = Scrape(m);
  EXPECT_FALSE(p.Value(kVolts, Channel("PSU", "V1")));
  EXPECT_EQ(p.Value(kAmperes, Channel("Load", "I1")), 0.1);
  m.SetUp("PSU", true);
  EXPECT_EQ(Scrape(m).Count(kVolts), 0u);
  m.OnInstrumentReading(Reading("PSU", "V1", "voltage", "mV", 6000));
  EXPECT_EQ(Scrape(m).Value(kVolts, Channel("PSU", "V1")), 6);
}

TEST(InstrumentMetricsTest, AChannelSwitchedToAnotherQuantityShowsOnlyTheNewOne) {
  metrics::InstrumentMetrics m({"DMM"});
  m.OnInstrumentReading(Reading("DMM", "P1", "voltage", "mV", 5000));
  m.OnInstrumentReading(Reading("DMM", "P1", "current", "mA", 20));
  const auto p = Scrape(m);
  EXPECT_FALSE(p.families.count(kVolts));
  EXPECT_EQ(p.Value(kAmperes, Channel("DMM", "P1")), 0.02);
}

TEST(InstrumentMetricsTest, NoInstrumentFamilyWithoutInstruments) {
  metrics::BenchMetrics bench({});
  for (const auto& families : {metrics::Families(bench), metrics::Families(bench, nullptr)}) {
    for (const auto& f : families)
      EXPECT_EQ(f.name.rfind("korvo_instrument", 0), std::string::npos) << f.name;
  }
  metrics::InstrumentMetrics none({});
  EXPECT_FALSE(Scrape(none).families.count("korvo_instrument_up"));
}

TEST(InstrumentMetricsTest, SeriesBeyondTheBoundAreNotExposed) {
  metrics::InstrumentMetrics m({"Logger"});
  for (std::size_t i = 0; i < metrics::InstrumentMetrics::kMaxSeries + 10; ++i)
    m.OnInstrumentReading(Reading("Logger", "T" + std::to_string(i), "voltage", "mV", 1));
  EXPECT_EQ(Scrape(m).Count(kVolts), metrics::InstrumentMetrics::kMaxSeries);
}

TEST(InstrumentMetricsTest, AScrapeWhileReadingsArriveIsAlwaysWhole) {
  metrics::InstrumentMetrics m({"PSU"});
  std::atomic<bool> stop{false};
  std::thread owner([&] {
    for (int i = 0; !stop; ++i) {
      m.OnInstrumentReading(Reading("PSU", "V" + std::to_string(i % 200), "voltage", "mV", 1000));
      m.SetUp("PSU", i % 2 == 0);
    }
  });
  for (int i = 0; i < 200; ++i) {
    auto p = Scrape(m);
    for (const auto& s : p.families[kVolts].samples) {
      EXPECT_EQ(s.value, 1);
      EXPECT_EQ(s.labels.at("instrument"), "PSU");
    }
  }
  stop = true;
  owner.join();
}

// Through the bench and its threads, as korvoctl follows it: each instrument's presence.
class InstrumentMetricsBenchTest : public ::testing::Test {
 protected:
  InstrumentMetricsBenchTest() {
    options_.clock = &clock_;
    options_.retry = 20ms;
    options_.readTimeout = 5s;
  }
  // Delivers until the scrape satisfies done; a generous deadline, never a fixed wait.
  template <typename Done>
  bool ScrapeUntil(instruments::Bench& bench, Done done) {
    const auto until = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < until) {
      bench.Deliver({&metrics_});
      for (const instruments::InstrumentState& s : bench.States())
        metrics_.SetUp(s.label, s.present);
      if (done(Scrape(metrics_))) return true;
      std::this_thread::yield();
    }
    return false;
  }
  std::shared_ptr<ScriptedBackend> backend_ = std::make_shared<ScriptedBackend>();
  StillClock clock_;
  instruments::BenchOptions options_;
  metrics::InstrumentMetrics metrics_{{"PSU"}};
  RecordingSink sink_;
  ScopedSink scope_{&sink_};
};

TEST_F(InstrumentMetricsBenchTest, UpGoesToZeroWhenAbsentAndBackToOne) {
  auto s = backend_->Add("PSU");
  s->answers = {Script::Answer::kValues, Script::Answer::kFail};
  instruments::Bench bench(backend_, {*instruments::ParseInstrument("fake label=PSU").config},
                           options_);
  bench.Start();
  ASSERT_TRUE(bench.WaitSettled(30s));
  bench.ReadOnce(30s);
  ASSERT_TRUE(ScrapeUntil(bench, [](const exposition::Parsed& p) {
    return p.Value("korvo_instrument_up", {{"instrument", "PSU"}}) == 1 && p.Count(kVolts) == 1;
  }));
  {  // the next read fails, and so does opening it again, until the test lets it
    const std::lock_guard lock(s->mutex);
    s->openFails = true;
  }
  bench.Trigger();
  ASSERT_TRUE(ScrapeUntil(bench, [](const exposition::Parsed& p) {
    return p.Value("korvo_instrument_up", {{"instrument", "PSU"}}) == 0;
  }));
  EXPECT_EQ(Scrape(metrics_).Count(kVolts), 0u);
  {
    const std::lock_guard lock(s->mutex);
    s->openFails = false;
  }
  ASSERT_TRUE(ScrapeUntil(bench, [&](const exposition::Parsed& p) {
    bench.Trigger();
    return p.Value("korvo_instrument_up", {{"instrument", "PSU"}}) == 1 && p.Count(kVolts) == 1;
  }));
}

}  // namespace

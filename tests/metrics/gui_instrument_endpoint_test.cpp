// The GUI's metrics endpoint with instruments: their readings and presence are served beside
// the registers' metrics.
#include <gtest/gtest.h>

#include <QCheckBox>

#include "Exposition.h"
#include "Loopback.h"
#include "adapter/frmUSB.h"
#include "instruments/Bench.h"
#include "instruments/ScriptedBackend.h"
#include "metrics/BenchEndpoint.h"
#include "monitor/MonitorFixture.h"

namespace {

class InstrumentEndpointTest : public MonitorFixture {};

TEST_F(InstrumentEndpointTest, TheWindowsInstrumentsAreServedWithTheirPresence) {
  LoadMonitored();
  const uint16_t port = loopback::FreePort();
  std::string error;
  auto endpoint = metrics::BenchEndpoint::Start(std::to_string(port), {}, error, {"PSU", "Load"});
  ASSERT_TRUE(endpoint) << error;
  endpoint->Attach(window->Registers(), frmUSB::Get());
  monitor->FollowPresence(
      [e = endpoint.get()](const std::string& label, bool up) { e->SetInstrumentUp(label, up); });
  auto backend = std::make_shared<ScriptedBackend>();
  backend->Add("PSU");
  backend->Add("Load")->openFails = true;
  static const StillClock clock;  // outlives the window, whose bench reads it from its threads
  instruments::BenchOptions o;
  o.clock = &clock;
  monitor->AddBench(std::make_unique<instruments::Bench>(
      backend,
      std::vector{*instruments::ParseInstrument("fake label=PSU").config,
                  *instruments::ParseInstrument("fake label=Load").config},
      o));
  QTest::mouseClick(Child<QCheckBox>("ContinuousScan"), Qt::LeftButton);
  ASSERT_TRUE(WaitUntil([&] {
    scan->Advance(500);
    const auto m = endpoint->Instruments();
    return m->SeriesCount() == 2 && m->Up(1) == 0 && !monitor->InstrumentStates()[1].present &&
           monitor->InstrumentStates()[1].settled;
  }));
  monitor->DeliverReadings();
  const auto scrape = loopback::Get(port);
  monitor->FollowPresence(nullptr);
  endpoint->Detach();
  ASSERT_EQ(scrape.status, 200);
  const auto p = exposition::Parse(scrape.body);
  EXPECT_EQ(p.Value("korvo_instrument_up", {{"instrument", "PSU"}}), 1);
  EXPECT_EQ(p.Value("korvo_instrument_up", {{"instrument", "Load"}}), 0);
  EXPECT_EQ(p.Value("korvo_instrument_current_amperes", {{"instrument", "PSU"}, {"channel", "I1"}}),
            2.048);
}

}  // namespace

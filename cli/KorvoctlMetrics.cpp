#include "cli/KorvoctlMetrics.h"

#include <ostream>

#include "adapter/frmUSB.h"
#include "cli/Korvoctl.h"
#include "cli/KorvoctlInstruments.h"
#include "drivers/Drivers.h"
#include "foundation/Settings.h"
#include "registers/RegisterAccess.h"

KorvoctlMetrics::Taken KorvoctlMetrics::Take(const std::vector<std::string>& args,
                                             std::size_t& i) {
  Taken t;
  if (args[i] != "--metrics") return t;
  t.taken = true;
  if (i + 1 >= args.size()) {
    t.error = "--metrics needs [ADDRESS:]PORT";
    return t;
  }
  address_ = metrics::ParseListenAddress(args[++i], t.error);
  return t;
}

int KorvoctlMetrics::Start(std::ostream& err, RegisterTable::Variant variant,
                           KorvoctlInstruments& instruments) {
  if (!address_) return kExitOk;
  metrics::BoardInfo board;
  board.variant = variant;
  board.driver = SelectedDriverName();
  board.i2c = modGlobals::I2CMode;
  board.address = modGlobals::DeviceAddress;
  bench_ = std::make_shared<metrics::BenchMetrics>(board);
  if (std::vector<std::string> labels = instruments.Labels(); !labels.empty())
    instruments_ = std::make_shared<metrics::InstrumentMetrics>(std::move(labels));
  std::string error;
  server_ = metrics::MetricsServer::Start(*address_, bench_, error, {}, instruments_);
  if (!server_) {
    err << "korvoctl: cannot serve metrics on " << error << '\n';
    return kExitUsage;
  }
  if (instruments_) {
    instruments.Follow(instruments_, [m = instruments_](const std::string& label, bool present) {
      m->SetUp(label, present);
    });
  }
  err << "korvoctl: metrics on " << server_->Url() << '\n';
  return kExitOk;
}

void KorvoctlMetrics::Attach(RegisterAccess& access, frmUSB& link) {
  if (!bench_) return;
  access.AddObserver(*bench_);
  link.AddObserver(*bench_);
}

void KorvoctlMetrics::Detach(RegisterAccess& access, frmUSB& link) {
  if (!bench_) return;
  access.RemoveObserver(*bench_);
  link.RemoveObserver(*bench_);
}

std::string KorvoctlMetricsUsage() {
  return "  --metrics [ADDR:]PORT\n"
         "                     serve Prometheus metrics at http://ADDR:PORT/metrics while the\n"
         "                     run lasts (ADDR: dotted IPv4, default 127.0.0.1: this machine only)\n";
}

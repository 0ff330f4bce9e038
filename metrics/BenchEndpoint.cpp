#include "metrics/BenchEndpoint.h"

#include "adapter/frmUSB.h"
#include "registers/RegisterAccess.h"

namespace metrics {

std::unique_ptr<BenchEndpoint> BenchEndpoint::Start(const std::string& text, const BoardInfo& board,
                                                    std::string& error,
                                                    std::vector<std::string> instruments) {
  const std::optional<ListenAddress> address = ParseListenAddress(text, error);
  if (!address) return nullptr;
  std::unique_ptr<BenchEndpoint> e(new BenchEndpoint);
  e->bench_ = std::make_shared<BenchMetrics>(board);
  if (!instruments.empty())
    e->instruments_ = std::make_shared<InstrumentMetrics>(std::move(instruments));
  e->server_ = MetricsServer::Start(*address, e->bench_, error, {}, e->instruments_);
  if (!e->server_) {
    error = "cannot serve metrics on " + error;
    return nullptr;
  }
  return e;
}

BenchEndpoint::~BenchEndpoint() { Detach(); }

void BenchEndpoint::Attach(RegisterAccess& access, frmUSB& link) {
  Detach();
  access_ = &access;
  link_ = &link;
  access.AddObserver(*bench_);
  if (instruments_) access.AddObserver(*instruments_);
  link.AddObserver(*bench_);
}

void BenchEndpoint::SetInstrumentUp(std::string_view label, bool up) {
  if (instruments_) instruments_->SetUp(label, up);
}

void BenchEndpoint::Detach() {
  if (access_) {
    access_->RemoveObserver(*bench_);
    if (instruments_) access_->RemoveObserver(*instruments_);
  }
  // The link drops its observers when it closes; only a live one is told.
  if (link_ && frmUSB::Loaded() && &frmUSB::Get() == link_) link_->RemoveObserver(*bench_);
  access_ = nullptr;
  link_ = nullptr;
}

}  // namespace metrics

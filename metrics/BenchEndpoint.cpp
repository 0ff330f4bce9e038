#include "metrics/BenchEndpoint.h"

#include "adapter/frmUSB.h"
#include "registers/RegisterAccess.h"

namespace metrics {

std::unique_ptr<BenchEndpoint> BenchEndpoint::Start(const std::string& text,
                                                    const BoardInfo& board, std::string& error) {
  const std::optional<ListenAddress> address = ParseListenAddress(text, error);
  if (!address) return nullptr;
  std::unique_ptr<BenchEndpoint> e(new BenchEndpoint);
  e->bench_ = std::make_shared<BenchMetrics>(board);
  e->server_ = MetricsServer::Start(*address, e->bench_, error);
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
  link.AddObserver(*bench_);
}

void BenchEndpoint::Detach() {
  if (access_) access_->RemoveObserver(*bench_);
  // The link drops its observers when it closes; only a live one is told.
  if (link_ && frmUSB::Loaded() && &frmUSB::Get() == link_) link_->RemoveObserver(*bench_);
  access_ = nullptr;
  link_ = nullptr;
}

}  // namespace metrics

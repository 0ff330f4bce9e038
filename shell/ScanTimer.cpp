#include "shell/ScanTimer.h"

QtScanTimer::QtScanTimer(QObject* parent) : ScanTimer(parent) {
  // A short period is meant as given: a coarse timer may stretch it by a twentieth.
  timer_.setTimerType(Qt::PreciseTimer);
  clock_.start();
  connect(&timer_, &QTimer::timeout, this, &QtScanTimer::OnTimeout);
}

void QtScanTimer::Start(int firstMs, int periodMs) {
  period_ = periodMs;
  timer_.start(firstMs);
}

void QtScanTimer::OnTimeout() {
  // After a first delay that differs from the period, the period counts from this tick on
  // (setInterval restarts a running timer).
  if (timer_.interval() != period_) timer_.setInterval(period_);
  emit Tick();
}

// The continuous scan's timer and clock behind one seam: the program runs a QTimer on the
// monotonic clock; tests move a manual clock on and see exactly which ticks fall due.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <cstdint>

class ScanTimer : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;

  // The next tick comes firstMs from now, then one every periodMs (both above 0).
  virtual void Start(int firstMs, int periodMs) = 0;
  virtual void Stop() = 0;
  virtual bool IsActive() const = 0;
  // The period of the running timer (of the last Start while stopped).
  virtual int Period() const = 0;
  // Milliseconds on a monotonic clock.
  virtual int64_t NowMs() const = 0;

 signals:
  void Tick();
};

class QtScanTimer : public ScanTimer {
  Q_OBJECT
 public:
  explicit QtScanTimer(QObject* parent = nullptr);

  void Start(int firstMs, int periodMs) override;
  void Stop() override { timer_.stop(); }
  bool IsActive() const override { return timer_.isActive(); }
  int Period() const override { return period_; }
  int64_t NowMs() const override { return clock_.elapsed(); }

 private:
  void OnTimeout();

  QTimer timer_;
  QElapsedTimer clock_;
  int period_ = 0;
};

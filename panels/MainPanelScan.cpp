// The panel's timers: the continuous scan (Timer1), the settle step (Timer2) that takes over the
// scan period and the device address, and the bus mode label.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>

#include "panels/MainPanel.h"
#include "foundation/Settings.h"
#include "foundation/Utils.h"
#include "views/BitBoxes.h"
#include "views/ClickableLabel.h"

namespace {

constexpr int32_t kOutOfRange = 0x2020FF;
int g_settleMs = 1000;

// Back to the window's own background.
void ClearBase(QLineEdit* box) {
  if (box->testAttribute(Qt::WA_SetPalette)) box->setPalette(QPalette());
}

}  // namespace

void MainPanel::SetSettleIntervalForTesting(int ms) { g_settleMs = ms > 0 ? ms : 1000; }

void MainPanel::StopTimers() {
  timer1_->Stop();
  timer2_->stop();
}

void MainPanel::RestartTimer2() {
  timer2_->stop();
  timer2_->start(g_settleMs);
}

std::optional<int> MainPanel::ScanPeriodValue() const {
  const std::optional<double> v = Utils::ParseDecimal(ScanPeriod->text().toStdString());
  if (!v) return std::nullopt;
  const double r = Utils::RoundHalfEven(*v);
  if (!(r >= 0 && r <= 32767)) return std::nullopt;
  return static_cast<int>(r);
}

std::optional<int16_t> MainPanel::DeviceAddressValue() const {
  int significant = 0;
  const uint32_t v = Utils::LenientHexValue(txtDevAddr->text().toStdString(), &significant);
  if (significant > 4) return std::nullopt;
  return static_cast<int16_t>(static_cast<uint16_t>(v));
}

void MainPanel::ColourSettleBoxes() {
  if (ScanPeriodValue()) {
    ClearBase(ScanPeriod);
  } else {
    PaintBase(ScanPeriod, kOutOfRange);
  }
  if (DeviceAddressValue()) {
    ClearBase(txtDevAddr);
  } else {
    PaintBase(txtDevAddr, kOutOfRange);
  }
}

void MainPanel::Timer2_Timer() {
  // A bad entry keeps what was in force; the box shows red meanwhile.
  if (const std::optional<int> period = ScanPeriodValue()) SetTimer1Interval(*period);
  if (const std::optional<int16_t> address = DeviceAddressValue()) {
    modGlobals::DeviceAddress = *address;
  }
  timer2_->stop();
}

void MainPanel::SetTimer1Interval(int ms) {
  if (ms == timer1Interval_) return;
  timer1Interval_ = ms;
  UpdateTimer1();
}

void MainPanel::UpdateTimer1() {
  // A period of 0 means no ticks at all (a zero-interval timer would fire continuously).
  if (timer1Enabled_ && timer1Interval_ > 0) {
    if (!timer1_->IsActive() || timer1_->Period() != timer1Interval_) {
      // The first tick one period from now, or later while a failed tick's hold-off runs.
      int first = timer1Interval_;
      if (holdOffUntil_) {
        first = static_cast<int>(std::max<int64_t>(first, *holdOffUntil_ - timer1_->NowMs()));
      }
      timer1_->Start(first, timer1Interval_);
    }
  } else {
    timer1_->Stop();
  }
}

void MainPanel::Timer1_Timer() {
  // A tick never starts inside another one or inside any window's register access (whose
  // failure box keeps the timers running in its own event loop), nor while a modal box is
  // open: the user sees one message at a time.
  if (inTick_ || registers_.Busy() || QApplication::activeModalWidget()) return;
  inTick_ = true;
  failureClosedAt_.reset();
  {
    const RegisterAccess::SourceScope tag(registers_, recording::AccessSource::kScanTick, true);
    ReadAllRegisters();
  }
  if (failureClosedAt_) {
    // Give the user time to reach the check box before the next tick's message appears. A
    // scan switched off meanwhile stays off.
    holdOffUntil_ = *failureClosedAt_ + std::max(kScanHoldOffMs, timer1Interval_);
    if (timer1_->IsActive()) {
      const int64_t wait = std::max<int64_t>(1, *holdOffUntil_ - timer1_->NowMs());
      timer1_->Start(static_cast<int>(wait), timer1Interval_);
    }
  } else {
    holdOffUntil_.reset();
  }
  QCoreApplication::processEvents();
  inTick_ = false;
}

void MainPanel::ToggleCommMode() {
  if (lblCommMode->text().compare(QStringLiteral("I2C"), Qt::CaseInsensitive) == 0) {
    lblCommMode->setText(QStringLiteral("SMB"));
    modGlobals::I2CMode = false;
  } else {
    lblCommMode->setText(QStringLiteral("I2C"));
    modGlobals::I2CMode = true;
  }
}

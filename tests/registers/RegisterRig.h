// Register access over the fake control, its messages caught by a recording sink.
#pragma once

#include <gtest/gtest.h>

#include "adapter/frmUSB.h"
#include "drivers/Drivers.h"
#include "registers/RegisterAccess.h"
#include "foundation/Settings.h"
#include "support/FakeZentio.h"
#include "support/RecordingSink.h"

class RegisterRig : public ::testing::Test {
 protected:
  RegisterRig() {
    Settings::ResetToDefaults();
    frmUSB::SetControlFactory([this] { return std::make_unique<FakeZentio>(fake_); });
  }
  ~RegisterRig() override {
    if (frmUSB::Loaded()) frmUSB::Get().CloseDevice();
    frmUSB::SetControlFactory(&CreateSelectedControl);
    Settings::ResetToDefaults();
  }

  FakeZentio::State fake_;
  RecordingSink sink_;
  ScopedSink scope_{&sink_};
  RegisterAccess regs_;
};

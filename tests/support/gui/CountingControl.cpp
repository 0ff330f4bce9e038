#include "CountingControl.h"

#include "adapter/frmUSB.h"
#include "drivers/Drivers.h"

void CountingControl::Install(ControlCounts& counts) {
  frmUSB::SetControlFactory([&counts]() -> std::unique_ptr<Zentio> {
    return std::make_unique<CountingControl>(CreateSelectedControl(), counts);
  });
}

void CountingControl::Uninstall() { frmUSB::SetControlFactory(&CreateSelectedControl); }

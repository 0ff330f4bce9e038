// The simulated evaluation board's entry in the driver list. The board itself: SimBoard.h.
#pragma once

#include <memory>

#include "adapter/Zentio.h"

std::unique_ptr<Zentio> CreateSimControl();

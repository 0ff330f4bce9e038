// The Linux i2c-dev driver's entry in the driver list.
#pragma once

#include <memory>

#include "adapter/Zentio.h"

std::unique_ptr<Zentio> CreateI2cDevControl();

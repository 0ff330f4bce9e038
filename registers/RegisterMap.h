// The charger registers the program knows, with their captions.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

struct RegisterInfo {
  uint8_t address;
  std::string_view mainCaption;  // empty when the main window does not show it
  std::string_view trimCaption;  // caption in the test-mode window
};

std::span<const RegisterInfo> Registers();  // in address order, 0x10 to 0x19 then 0x3F
const RegisterInfo* FindRegister(uint8_t address);

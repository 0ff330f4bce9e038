#include "registers/RegisterMap.h"

#include <array>

namespace {
constexpr std::array<RegisterInfo, 11> kRegisters{{
    {0x10, "", "TR0: TRIM 0 REGISTER(0x10)"},
    {0x11, "", "TR1: TRIM 1 REGISTER(0x11)"},
    {0x12, "CONTROL REGISTER (0x12)", "CM: CHARGER MODE REGISTER(0x12)"},
    {0x13, "STATUS REGISTER (0x13)", "CHARGER STATUS REG(0x13)"},
    {0x14, "CHARGE CURRENT (0x14)", "CC: CHARGING CURRENT REG(0x14)"},
    {0x15, "BATTERY VOLTAGE (0x15)", "CV: CHARGING VOLTAGE REG(0x15)"},
    {0x16, "", "TR2: TRIM 2 REGISTER(0x16)"},
    {0x17, "", "TM1: TEST MODE 1 REGISTER(0x17)"},
    {0x18, "", "TM2: TEST MODE 2 REGISTER(0x18)"},
    {0x19, "", "VDT REG (0x19)"},
    {0x3F, "INPUT CURRENT (0x3F)", "IC: INPUT CURRENT REGISTER(0x3F)"},
}};
}  // namespace

std::span<const RegisterInfo> Registers() { return kRegisters; }

const RegisterInfo* FindRegister(uint8_t address) {
  for (const auto& r : kRegisters)
    if (r.address == address) return &r;
  return nullptr;
}

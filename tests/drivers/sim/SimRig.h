// A fresh simulated board with the simulated adapter open on it, and word access to the charger.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "adapter/ErrorCodes.h"
#include "drivers/sim/SimDriver.h"
#include "registers/RegisterTable.h"

namespace sim {

using RegisterTable::kChargeCurrent, RegisterTable::kChargeVoltage, RegisterTable::kControl,
    RegisterTable::kInputCurrent, RegisterTable::kStatus, RegisterTable::kTestMode1,
    RegisterTable::kTestMode2, RegisterTable::kTrim0, RegisterTable::kTrim1, RegisterTable::kTrim2,
    RegisterTable::kVdt;

class SimRig : public ::testing::Test {
 protected:
  SimRig() { Attach(std::make_shared<Board>()); }
  void Attach(std::shared_ptr<Board> b) {
    board = std::move(b);
    adapter = std::make_unique<Adapter>(board);
    EXPECT_EQ(adapter->OpenDevice(kAdapterName), 0);
  }
  int16_t Write(uint8_t r, uint16_t v) {
    return adapter->SmbWriteWord(r, static_cast<int16_t>(v), 0x67);
  }
  // The status of a word read, the word going to value.
  int16_t ReadAs(uint8_t r, int16_t& value) { return adapter->SmbReadWord(r, value, 0x67); }
  // The register's value; a failed read fails the test.
  uint16_t Read(uint8_t r) {
    int16_t w = 0;
    EXPECT_EQ(ReadAs(r, w), VB_OK) << "register " << int(r);
    return static_cast<uint16_t>(w);
  }
  uint16_t WriteThenRead(uint8_t r, uint16_t v) {
    EXPECT_EQ(Write(r, v), VB_OK) << "register " << int(r);
    return Read(r);
  }

  std::shared_ptr<Board> board;
  std::unique_ptr<Adapter> adapter;
};

}  // namespace sim

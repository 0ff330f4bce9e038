// An adapter control that forwards to another one and counts how often it is opened and
// closed. Install with CountingControl::Install(counts): every link and window created
// afterwards gets a counting wrapper around the selected driver's control.
#pragma once

#include <memory>

#include "adapter/Zentio.h"

struct ControlCounts {
  int openDevice = 0;
  int deviceClose = 0;
};

class CountingControl : public Zentio {
 public:
  CountingControl(std::unique_ptr<Zentio> inner, ControlCounts& counts)
      : inner_(std::move(inner)), counts_(counts) {}

  // Makes frmUSB::CreateControl wrap the selected driver; Uninstall restores the default.
  static void Install(ControlCounts& counts);
  static void Uninstall();

  void ListFreeDevices(int32_t limit, int32_t& count, std::string& names) override {
    inner_->ListFreeDevices(limit, count, names);
  }
  int16_t OpenDevice(const std::string& name) override {
    ++counts_.openDevice;
    return inner_->OpenDevice(name);
  }
  void DeviceClose() override {
    ++counts_.deviceClose;
    inner_->DeviceClose();
  }
  void ShowAboutBox() override { inner_->ShowAboutBox(); }
  int16_t QueryError() override { return inner_->QueryError(); }
  int16_t SmbWriteWord(int16_t c, int16_t w, int16_t t) override {
    return inner_->SmbWriteWord(c, w, t);
  }
  int16_t SmbReadWord(int16_t c, int16_t& w, int16_t t) override {
    return inner_->SmbReadWord(c, w, t);
  }
  int16_t SmbSendCommand(int16_t c, int16_t t) override { return inner_->SmbSendCommand(c, t); }
  int16_t SmbWriteBlock(int16_t c, const std::vector<uint8_t>& b, int16_t n, int16_t t) override {
    return inner_->SmbWriteBlock(c, b, n, t);
  }
  int16_t SmbReadBlock(int16_t c, std::vector<uint8_t>& b, int16_t& n, int16_t t) override {
    return inner_->SmbReadBlock(c, b, n, t);
  }
  int16_t SmbReadI2CBlock(int16_t c, std::vector<uint8_t>& b, int16_t& n, int16_t t) override {
    return inner_->SmbReadI2CBlock(c, b, n, t);
  }
  int16_t SmbReadI2CBlockNoCmd(std::vector<uint8_t>& b, int16_t& n, int16_t t) override {
    return inner_->SmbReadI2CBlockNoCmd(b, n, t);
  }
  int16_t SmbWriteI2CBlock(int16_t c, const std::vector<uint8_t>& b, int16_t n,
                           int16_t t) override {
    return inner_->SmbWriteI2CBlock(c, b, n, t);
  }
  int16_t SmbWriteReadI2CBlock(int16_t c, int16_t wl, int16_t rl, std::vector<uint8_t>& b,
                               int16_t& n, int16_t t) override {
    return inner_->SmbWriteReadI2CBlock(c, wl, rl, b, n, t);
  }
  int16_t I2CBlockRead(int16_t a, std::vector<uint8_t>& b, int16_t s, int16_t t) override {
    return inner_->I2CBlockRead(a, b, s, t);
  }
  int16_t I2CBlockWrite(int16_t a, const std::vector<uint8_t>& b, int16_t s, int16_t t) override {
    return inner_->I2CBlockWrite(a, b, s, t);
  }
  int16_t I2CByteOp(int32_t s, int16_t a, int16_t b, int16_t& c) override {
    return inner_->I2CByteOp(s, a, b, c);
  }
  int16_t OneWireRead(int32_t ty, int16_t c, int16_t& w) override {
    return inner_->OneWireRead(ty, c, w);
  }
  int16_t OneWireWrite(int32_t ty, int16_t c, int16_t w) override {
    return inner_->OneWireWrite(ty, c, w);
  }
  void Wait(int32_t ms) override { inner_->Wait(ms); }
  int16_t GetVersion(int16_t& v, int16_t& r) override { return inner_->GetVersion(v, r); }
  int16_t FlashFromSrec(const std::string& a, const std::string& b, const std::string& c) override {
    return inner_->FlashFromSrec(a, b, c);
  }
  int16_t FlashProgram(int32_t ds, int32_t cs, const std::vector<uint8_t>& db, int32_t dz,
                       int32_t rz, const std::vector<uint8_t>& cb, int32_t cz, int16_t t) override {
    return inner_->FlashProgram(ds, cs, db, dz, rz, cb, cz, t);
  }
  int16_t FlashRead(int32_t ds, int32_t cs, std::vector<uint8_t>& db, int32_t dz,
                    std::vector<uint8_t>& cb, int32_t cz, int16_t t) override {
    return inner_->FlashRead(ds, cs, db, dz, cb, cz, t);
  }

 private:
  std::unique_ptr<Zentio> inner_;
  ControlCounts& counts_;
};

// The whole program over the fake kernel: korvoctl dumping and writing through the i2c-dev
// driver, and the register layer retrying through a NACK.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>

#include "I2cDevRig.h"
#include "adapter/frmUSB.h"
#include "cli/Korvoctl.h"
#include "registers/RegisterAccess.h"
#include "registers/RegisterMap.h"
#include "shell/Settings.h"
#include "support/RecordingSink.h"

namespace {

// Lets the settings choose the driver for the scope of a test.
class NoAdapterOverride {
 public:
  NoAdapterOverride() {
    if (const char* v = std::getenv("KORVO_ADAPTER")) saved_ = v;
    ::unsetenv("KORVO_ADAPTER");
  }
  ~NoAdapterOverride() {
    if (saved_) ::setenv("KORVO_ADAPTER", saved_->c_str(), 1);
  }

 private:
  std::optional<std::string> saved_;
};

class I2cDevKorvoctl : public ::testing::Test {
 protected:
  I2cDevKorvoctl() : installed_(&rig.kernel) {
    frmUSB::SetControlFactory(nullptr);  // the driver the settings choose
    ini_ = rig.sysfs.Root() + "/korvo.ini";
    WriteIni("");
  }
  ~I2cDevKorvoctl() override {
    Settings::SetFile("");
    Settings::ResetToDefaults();
  }
  void WriteIni(const std::string& extra) {
    std::ofstream(ini_, std::ios::trunc) << "[Adapter]\nDriver=i2cdev\n" << extra;
  }
  int Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--ini", ini_});
    out.str("");
    err.str("");
    std::istringstream in;
    return RunKorvoctl(args, out, err, in);
  }

  NoAdapterOverride noOverride_;
  I2cDevRig rig;
  ScopedI2cDevKernel installed_;
  std::string ini_;
  std::ostringstream out, err;
};

TEST_F(I2cDevKorvoctl, DumpsEveryRegisterOfTheChargerBehindTheBridge) {
  for (const RegisterInfo& r : Registers())
    rig.Charger().words[r.address] = static_cast<uint16_t>(0x1100 + r.address);
  ASSERT_EQ(Run({"dump"}), kExitOk) << err.str();
  std::istringstream lines(out.str());
  std::string line;
  std::size_t n = 0;
  for (const RegisterInfo& r : Registers()) {
    ASSERT_TRUE(std::getline(lines, line));
    char expected[16];
    std::snprintf(expected, sizeof expected, "0x%02X 0x%04X", r.address, 0x1100 + r.address);
    EXPECT_EQ(line.rfind(expected, 0), 0u) << line;
    ++n;
  }
  EXPECT_EQ(n, 11u);
  EXPECT_EQ(err.str(), "");
  EXPECT_EQ(rig.kernel.OpenFds(), 0) << "korvoctl closes the bus";
  for (const auto& p : rig.kernel.openedPaths) EXPECT_NE(p, "/dev/i2c-0");
}

TEST_F(I2cDevKorvoctl, WritesThenReadsInOrderInBothBusModes) {
  ASSERT_EQ(Run({"write", "0x15", "16800", "read", "0x15"}), kExitOk) << err.str();
  EXPECT_EQ(rig.Charger().words[0x15], 16800);
  EXPECT_NE(out.str().find("16800"), std::string::npos) << out.str();
  ASSERT_EQ(Run({"--i2c", "write", "0x14", "0x0102", "read", "0x14"}), kExitOk) << err.str();
  EXPECT_EQ(rig.Charger().memory[0x14], 0x02) << "low byte first";
  EXPECT_EQ(rig.Charger().memory[0x15], 0x01);
  EXPECT_NE(out.str().find("0x0102"), std::string::npos) << out.str();
}

TEST_F(I2cDevKorvoctl, TheBusKeyAndAnAddressThroughTheSettingsFile) {
  rig.kernel.Chip(I2cDevRig::kPciBus, 0x50).words[0x13] = 0xBEEF;
  WriteIni("Bus=SMBus I801\n");
  ASSERT_EQ(Run({"--address", "0xA0", "read", "0x13"}), kExitOk) << err.str();
  EXPECT_NE(out.str().find("0xBEEF"), std::string::npos) << out.str();
}

TEST_F(I2cDevKorvoctl, ANackAtEveryAttemptIsABusFailureWithTheAdaptersErrorName) {
  rig.kernel.failNext = {ENXIO, ENXIO};
  EXPECT_EQ(Run({"--retries", "1", "read", "0x15"}), kExitBus);
  EXPECT_NE(err.str().find("VB_T2H_NACK"), std::string::npos) << err.str();
}

TEST_F(I2cDevKorvoctl, NoUsbBridgeFailsToOpenAndTheDiagnosticsSayWhy) {
  FakeSysfs bare;
  bare.AddPciBus(0, "SMBus I801 adapter at efa0");
  FakeKernel kernel(bare.Root());
  kernel.AddBus(0);
  ScopedI2cDevKernel other(&kernel);
  EXPECT_EQ(Run({"dump"}), kExitBus);
  EXPECT_TRUE(kernel.openedPaths.empty()) << "the motherboard bus was opened";
  EXPECT_NE(I2cDevDiagnostics().find("No USB-attached I2C bus found"), std::string::npos);
}

TEST_F(I2cDevKorvoctl, PermissionDeniedTellsAboutTheI2cGroup) {
  rig.UsbBus().openErrno = EACCES;
  EXPECT_EQ(Run({"read", "0x15"}), kExitBus);
  EXPECT_NE(I2cDevDiagnostics().find("i2c group"), std::string::npos);
}

// The register layer over the link hosting the driver.
class I2cDevRegisterLayer : public ::testing::Test {
 protected:
  I2cDevRegisterLayer() : scope_(&sink) {
    frmUSB::SetControlFactory(
        [this] { return std::make_unique<I2cDevDriver>(rig.kernel, I2cDevOptions{}); });
    Settings::ResetToDefaults();
    EXPECT_TRUE(frmUSB::Get().OpenFirstFreeDevice());
  }
  ~I2cDevRegisterLayer() override {
    frmUSB::Get().CloseDevice();
    frmUSB::SetControlFactory(nullptr);
    Settings::ResetToDefaults();
  }
  int Reads(const char* op) { return rig.kernel.Count(op); }

  I2cDevRig rig;
  RecordingSink sink;
  ScopedSink scope_;
  RegisterAccess access;
};

TEST_F(I2cDevRegisterLayer, RetriesThroughANackAndSucceedsQuietly) {
  rig.Charger().words[0x15] = 16800;
  modGlobals::ReadRetryCount = 2;
  for (int e : {ENXIO, EREMOTEIO, ETIMEDOUT, EIO}) {  // each bridge's way of saying NACK
    rig.kernel.failNext = {e, e};
    const int before = Reads("ReadWord");
    int16_t v = 0;
    EXPECT_EQ(access.ReadRegister("CS: Status", 0x15, v, 0x67), 0) << e;
    EXPECT_EQ(v, 16800);
    EXPECT_EQ(Reads("ReadWord") - before, 3) << e;
  }
  EXPECT_TRUE(sink.messages.empty());
}

TEST_F(I2cDevRegisterLayer, GivesUpAfterTheLastRetryWithOneMessage) {
  modGlobals::ReadRetryCount = 2;
  modGlobals::I2CMode = true;
  rig.kernel.failNext = {ENXIO, ENXIO, ENXIO};
  int16_t v = 0;
  EXPECT_EQ(access.ReadRegister("CS: Status", 0x15, v, 0x67), VB_T2H_NACK);
  EXPECT_EQ(Reads("ReadI2cBlock"), 3);
  ASSERT_EQ(sink.messages.size(), 1u);
  EXPECT_NE(sink.messages[0].find("VB_T2H_NACK"), std::string::npos) << sink.messages[0];
}

TEST_F(I2cDevRegisterLayer, AnUnplugInTheMiddleOfAScanFailsFastWithNoUsb) {
  modGlobals::ReadRetryCount = 3;
  int ok = 0;
  int noUsb = 0;
  std::size_t callsAfterUnplug = 0;
  int index = 0;
  for (const RegisterInfo& r : Registers()) {
    if (index++ == 5) rig.kernel.Unplug(I2cDevRig::kUsbBus);
    int16_t v = 0;
    const int32_t s = access.ReadRegister("CS: Status", r.address, v, 0x67);
    if (s == 0) ++ok;
    if (s == VB_NO_USB) {
      if (noUsb++ == 0) callsAfterUnplug = rig.kernel.calls.size();
    }
  }
  EXPECT_EQ(ok, 5);
  EXPECT_EQ(noUsb, 6);
  EXPECT_EQ(rig.kernel.calls.size(), callsAfterUnplug)
      << "retries and later reads stay off the kernel";
  EXPECT_EQ(rig.kernel.OpenFds(), 0);
  ASSERT_EQ(sink.messages.size(), 6u);
  EXPECT_NE(sink.messages[0].find("VB_NO_USB"), std::string::npos);
  // A write after the unplug: the link's pending-error check agrees.
  EXPECT_EQ(access.WriteRegister("CS: Status", 0x15, 1, 0x67), VB_NO_USB);
}

}  // namespace

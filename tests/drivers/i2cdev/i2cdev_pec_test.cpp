// Packet error codes computed in software (Pec=1): the frames on the wire, good and bad codes,
// and the traffic with the option off.
#include <gtest/gtest.h>

#include <functional>

#include "I2cDevFakeKernel.h"
#include "adapter/ErrorCodes.h"
#include "adapter/frmUSB.h"
#include "foundation/Settings.h"
#include "registers/RegisterAccess.h"

namespace {

I2cDevOptions WithPec() {
  I2cDevOptions o;
  o.pec = true;
  return o;
}

// A charger that speaks SMBus words with a packet error code, 0x41A0 in its register 0x15.
class I2cDevPec : public ::testing::Test {
 protected:
  I2cDevPec() {
    rig.Charger().pecWords = true;
    rig.Charger().words[0x15] = 0x41A0;
  }
  I2cDevRig rig;
};

TEST(PacketErrorCode, MatchesTheCrc8OfTheSmbusStandard) {
  struct Case {
    std::vector<uint8_t> bytes;
    uint8_t pec;
  } cases[] = {
      {{}, 0x00},
      {{'1', '2', '3', '4', '5', '6', '7', '8', '9'}, 0xF4},  // the CRC-8/SMBUS check value
      {{0xFF}, 0xF3},  // the last entry of the usual lookup table
  };
  for (const Case& c : cases)
    EXPECT_EQ(PacketErrorCode(c.bytes), c.pec) << c.bytes.size() << " bytes";
}

TEST_F(I2cDevPec, AWordReadWithAGoodCodeDeliversTheWord) {
  auto d = rig.Opened(WithPec());
  int16_t w = 0;
  EXPECT_EQ(d->SmbReadWord(0x15, w, 0x67), VB_OK);
  EXPECT_EQ(w, 0x41A0);
  EXPECT_EQ(rig.kernel.Count("ReadWord"), 0) << "the kernel's SMBus read would skip the check";
  EXPECT_EQ(rig.kernel.calls.back().length, 1 + 3) << "command out; low, high and PEC in";
}

TEST_F(I2cDevPec, AWordReadWithABadCodeIsBadPecAndLeavesTheWord) {
  rig.Charger().corruptNextPecReads = 1;
  auto d = rig.Opened(WithPec());
  int16_t w = 0x1234;
  EXPECT_EQ(d->SmbReadWord(0x15, w, 0x67), VB_BAD_PEC);
  EXPECT_EQ(w, 0x1234);
}

TEST_F(I2cDevPec, AWordWriteCarriesTheCodeTheChargerChecks) {
  auto d = rig.Opened(WithPec());
  EXPECT_EQ(d->SmbWriteWord(0x14, 0x0380, 0x67), VB_OK);
  EXPECT_EQ(rig.Charger().words[0x14], 0x0380);
  EXPECT_EQ(rig.Charger().pecWritesRefused, 0);
  EXPECT_EQ(rig.kernel.Count("WriteWord"), 0);
}

TEST_F(I2cDevPec, WithoutPlainI2cTheAdapterCannotCarryPecWords) {
  rig.UsbBus().funcs = FakeKernel::kAllFuncs & ~static_cast<unsigned long>(I2C_FUNC_I2C);
  auto d = rig.Opened(WithPec());
  const std::size_t before = rig.kernel.calls.size();
  int16_t w = 0;
  EXPECT_EQ(d->SmbReadWord(0x15, w, 0x67), VB_INCORRECT_PARAM);
  EXPECT_EQ(d->SmbWriteWord(0x14, 1, 0x67), VB_INCORRECT_PARAM);
  EXPECT_EQ(rig.kernel.calls.size(), before);
}

TEST_F(I2cDevPec, OffByDefaultTheKernelsSmbusWordsCarryTheTraffic) {
  auto d = rig.Opened();
  int16_t w = 0;
  EXPECT_EQ(d->SmbReadWord(0x15, w, 0x67), VB_OK);
  EXPECT_EQ(d->SmbWriteWord(0x14, 1, 0x67), VB_OK);
  EXPECT_EQ(rig.kernel.Count("ReadWord"), 1);
  EXPECT_EQ(rig.kernel.Count("WriteWord"), 1);
  EXPECT_EQ(rig.kernel.Count("Transfer"), 0);
}

// The code is Korvo's for words only: blocks and bytes go through the kernel's calls as before.
TEST_F(I2cDevPec, BlocksAndBytesGoAsWithoutIt) {
  auto d = rig.Opened(WithPec());
  std::vector<uint8_t> buffer(32);
  int16_t length = 0;
  const std::vector<uint8_t> bytes = {1, 2, 3};
  struct Case {
    const char* call;
    std::function<int16_t()> run;
  } cases[] = {
      {"SendByte", [&] { return d->SmbSendCommand(0x10, 0x67); }},
      {"ReadBlock", [&] { return d->SmbReadBlock(0x10, buffer, length, 0x67); }},
      {"WriteBlock", [&] { return d->SmbWriteBlock(0x10, bytes, 3, 0x67); }},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.run(), VB_OK) << c.call;
    EXPECT_EQ(rig.kernel.Count(c.call), 1) << c.call;
  }
  EXPECT_EQ(rig.kernel.Count("Transfer"), 0);
}

TEST_F(I2cDevPec, TheSettingsKeyTurnsItOn) {
  struct Case {
    const char* ini;
    bool pec;
  } cases[] = {{"", false}, {"[Adapter]\nPec=1\n", true}, {"[Adapter]\nPec=0\n", false}};
  for (const Case& c : cases) {
    TempDir dir;
    const std::string path = dir.Write("k.ini", c.ini);
    EXPECT_EQ(I2cDevOptionsFromSettings(*Settings::Snapshot::Load(path)).pec, c.pec) << c.ini;
  }
}

TEST_F(I2cDevPec, AnOverrideOfTheSettingsTurnsItOnWithoutTheFile) {
  TempDir dir;
  const std::string path = dir.Write("k.ini", "[Adapter]\nBus=3\n");
  const Settings::Snapshot s = Settings::Snapshot::Load(path)->With("Adapter", "Pec", "1");
  EXPECT_TRUE(I2cDevOptionsFromSettings(s).pec);
  EXPECT_EQ(I2cDevOptionsFromSettings(s).bus, "3");
}

TEST_F(I2cDevPec, ABadCodeIsRetriedByTheRegisterLayer) {
  rig.Charger().corruptNextPecReads = 1;
  frmUSB link(rig.Opened(WithPec()));
  RegisterAccess access(link, {0x67, false, true, 1}, nullptr);
  int16_t w = 0;
  EXPECT_EQ(access.ReadRegister("CS: Status", 0x15, w, 0x67), VB_OK);
  EXPECT_EQ(w, 0x41A0);
  EXPECT_EQ(rig.kernel.Count("Transfer"), 2);
}

}  // namespace

// Transactions over the fake kernel: addresses, claimed addresses, the errno table, the
// functionality checks, block sizes and buffer limits, and the operations i2c-dev cannot offer.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>

#include "I2cDevRig.h"
#include "adapter/ErrorCodes.h"

namespace {

using Op = std::function<int16_t(Zentio&)>;

TEST(I2cDevAddress, EightBitTargetsReachTheSevenBitAddress) {
  struct Case {
    int16_t target;
    uint8_t address7;
  };
  for (const Case& c : {Case{0x66, 0x33}, Case{0x67, 0x33}, Case{0xA0, 0x50}, Case{0xA1, 0x50},
                        Case{0x00, 0x00}, Case{0xFF, 0x7F}}) {
    I2cDevRig rig;
    rig.kernel.Chip(I2cDevRig::kUsbBus, c.address7).words[0x15] = 0x41A0;
    auto d = rig.Opened();
    int16_t w = 0;
    EXPECT_EQ(d->SmbReadWord(0x15, w, c.target), VB_OK) << c.target;
    EXPECT_EQ(w, 0x41A0);
    ASSERT_FALSE(rig.kernel.addressesSet.empty());
    EXPECT_EQ(rig.kernel.addressesSet.back(), std::make_pair(int{c.address7}, false)) << c.target;
  }
}

TEST(I2cDevAddress, TargetsOutsideOneByteAreRefusedBeforeTheKernel) {
  I2cDevRig rig;
  auto d = rig.Opened();
  for (int16_t target : {int16_t{-1}, int16_t{0x100}, int16_t{0x7FFF}, int16_t{-32768}}) {
    int16_t w = 0;
    EXPECT_EQ(d->SmbReadWord(0x15, w, target), VB_INCORRECT_PARAM) << target;
  }
  EXPECT_EQ(rig.kernel.Count("SetAddress"), 0);
}

TEST(I2cDevAddress, TheAddressIsSetOnlyWhenItChanges) {
  I2cDevRig rig;
  rig.kernel.Chip(I2cDevRig::kUsbBus, 0x50);
  auto d = rig.Opened();
  int16_t w = 0;
  d->SmbReadWord(0x12, w, 0x66);
  d->SmbReadWord(0x13, w, 0x67);
  d->SmbWriteWord(0x12, 5, 0x67);
  EXPECT_EQ(rig.kernel.Count("SetAddress"), 1);
  int16_t b = 0;
  d->I2CByteOp(2, 0xA0, 0, b);
  d->SmbReadWord(0x12, w, 0x67);
  EXPECT_EQ(rig.kernel.Count("SetAddress"), 3);
  // A reopen forgets the address the old descriptor had.
  ASSERT_NE(d->OpenDevice(I2cDevRig::kUsbName), -1);
  d->SmbReadWord(0x12, w, 0x67);
  EXPECT_EQ(rig.kernel.Count("SetAddress"), 4);
}

TEST(I2cDevAddress, AnAddressClaimedByAKernelDriverIsBusyAndSaidSo) {
  I2cDevRig rig;
  rig.UsbBus().claimed.insert(0x33);
  auto d = rig.Opened();
  int16_t w = 0;
  EXPECT_EQ(d->SmbReadWord(0x15, w, 0x67), VB_BUS_BUSY);
  EXPECT_EQ(d->QueryError(), VB_BUS_BUSY);
  EXPECT_EQ(rig.kernel.Count("SetAddressForce"), 0);
  EXPECT_EQ(rig.kernel.Count("ReadWord"), 0);
  const std::string diag = I2cDevDiagnostics();
  EXPECT_NE(diag.find("address 0x33 (8-bit 0x66/0x67) is claimed by a kernel driver"),
            std::string::npos)
      << diag;
  EXPECT_NE(diag.find("ForceAddress=1"), std::string::npos) << diag;
  // Tried again on the next transaction, not remembered as set.
  EXPECT_EQ(d->SmbReadWord(0x15, w, 0x67), VB_BUS_BUSY);
  EXPECT_EQ(rig.kernel.Count("SetAddress"), 2);
}

TEST(I2cDevAddress, ForceAddressTakesAClaimedAddress) {
  I2cDevRig rig;
  rig.UsbBus().claimed.insert(0x33);
  rig.Charger().words[0x15] = 0x1234;
  auto d = rig.Opened({"", true});
  int16_t w = 0;
  EXPECT_EQ(d->SmbReadWord(0x15, w, 0x67), VB_OK);
  EXPECT_EQ(w, 0x1234);
  EXPECT_EQ(rig.kernel.addressesSet.back(), std::make_pair(0x33, true));
  EXPECT_NE(I2cDevDiagnostics().find("used anyway"), std::string::npos);
  // Unclaimed addresses still go through plain I2C_SLAVE.
  rig.kernel.Chip(I2cDevRig::kUsbBus, 0x50);
  int16_t b = 0;
  EXPECT_EQ(d->I2CByteOp(2, 0xA0, 0, b), VB_OK);
  EXPECT_EQ(rig.kernel.addressesSet.back(), std::make_pair(0x50, false));
}

// The errno table, entry by entry, as the issue gives it.
struct ErrnoCase {
  int error;
  int16_t status;
};
class I2cDevErrno : public ::testing::TestWithParam<ErrnoCase> {};

TEST_P(I2cDevErrno, TransferFailureReadsAsItsStatus) {
  const ErrnoCase c = GetParam();
  EXPECT_EQ(StatusFromErrno(c.error), c.status);
  I2cDevRig rig;
  auto d = rig.Opened();
  rig.kernel.failNext = {c.error};
  int16_t w = 0x5555;
  EXPECT_EQ(d->SmbReadWord(0x15, w, 0x67), c.status);
  EXPECT_EQ(w, 0x5555) << "a failed read leaves the word alone";
  EXPECT_EQ(d->QueryError(), c.status);
}

INSTANTIATE_TEST_SUITE_P(Table, I2cDevErrno,
                         ::testing::Values(ErrnoCase{ENXIO, 772}, ErrnoCase{EREMOTEIO, 772},
                                           ErrnoCase{ETIMEDOUT, 8}, ErrnoCase{EAGAIN, 94},
                                           ErrnoCase{EBUSY, 94}, ErrnoCase{EBADMSG, 3},
                                           ErrnoCase{EPROTO, 5}, ErrnoCase{ENODEV, 2},
                                           ErrnoCase{ESHUTDOWN, 2}, ErrnoCase{EOPNOTSUPP, 7},
                                           ErrnoCase{EINVAL, 7}, ErrnoCase{EIO, 100},
                                           ErrnoCase{EPERM, 100}, ErrnoCase{ENOMEM, 100},
                                           ErrnoCase{EFAULT, 100}, ErrnoCase{EINTR, 100}),
                         [](const ::testing::TestParamInfo<ErrnoCase>& p) {
                           return std::string(strerrorname_np(p.param.error));
                         });

TEST(I2cDevErrnoTable, HoldsExactlyTheDocumentedEntries) {
  std::map<int, int16_t> expected{{ENXIO, 772},   {EREMOTEIO, 772}, {ETIMEDOUT, 8}, {EAGAIN, 94},
                                  {EBUSY, 94},    {EBADMSG, 3},     {EPROTO, 5},    {ENODEV, 2},
                                  {ESHUTDOWN, 2}, {EOPNOTSUPP, 7},  {EINVAL, 7}};
  for (const ErrnoStatus& e : I2cDevErrnoTable()) {
    auto it = expected.find(e.error);
    if (it == expected.end()) {
      EXPECT_EQ(e.status, VB_UNKNOWN) << "errno " << e.error;
    } else {
      EXPECT_EQ(e.status, it->second) << "errno " << e.error;
      expected.erase(it);
    }
  }
  EXPECT_TRUE(expected.empty());
}

TEST(I2cDevQueryError, ReportsTheLastTransaction) {
  I2cDevRig rig;
  auto d = rig.Driver();
  EXPECT_EQ(d->QueryError(), VB_NO_USB) << "nothing open";
  ASSERT_NE(d->OpenDevice(I2cDevRig::kUsbName), -1);
  EXPECT_EQ(d->QueryError(), VB_OK);
  EXPECT_EQ(d->SmbWriteWord(0x15, 1, 0x20), VB_T2H_NACK);  // nobody at 0x10
  EXPECT_EQ(d->QueryError(), VB_T2H_NACK);
  EXPECT_EQ(d->SmbWriteWord(0x15, 1, 0x67), VB_OK);
  EXPECT_EQ(d->QueryError(), VB_OK);
  d->SmbWriteWord(0x15, 1, 0x20);
  d->Wait(0);
  EXPECT_EQ(d->QueryError(), VB_OK) << "a wait after a failure does not report it again";
}

TEST(I2cDevWait, Sleeps) {
  I2cDevRig rig;
  auto d = rig.Opened();
  const auto t0 = std::chrono::steady_clock::now();
  d->Wait(20);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(20));
  d->Wait(-5);  // returns at once
}

// Every transaction with the functionality it needs.
struct FuncCase {
  const char* name;
  unsigned long func;
  Op op;
};

std::vector<FuncCase> FuncCases() {
  return {
      {"SmbReadWord", I2C_FUNC_SMBUS_READ_WORD_DATA,
       [](Zentio& z) {
         int16_t w;
         return z.SmbReadWord(0x15, w, 0x67);
       }},
      {"SmbWriteWord", I2C_FUNC_SMBUS_WRITE_WORD_DATA,
       [](Zentio& z) { return z.SmbWriteWord(0x15, 1, 0x67); }},
      {"SmbSendCommand", I2C_FUNC_SMBUS_WRITE_BYTE,
       [](Zentio& z) { return z.SmbSendCommand(0x15, 0x67); }},
      {"SmbWriteBlock", I2C_FUNC_SMBUS_WRITE_BLOCK_DATA,
       [](Zentio& z) {
         return z.SmbWriteBlock(0x15, {1, 2}, 2, 0x67);
       }},
      {"SmbReadBlock", I2C_FUNC_SMBUS_READ_BLOCK_DATA,
       [](Zentio& z) {
         std::vector<uint8_t> b;
         int16_t n;
         return z.SmbReadBlock(0x15, b, n, 0x67);
       }},
      {"SmbReadI2CBlock", I2C_FUNC_SMBUS_READ_I2C_BLOCK,
       [](Zentio& z) {
         std::vector<uint8_t> b;
         int16_t n = 2;
         return z.SmbReadI2CBlock(0x15, b, n, 0x67);
       }},
      {"SmbReadI2CBlockNoCmd", I2C_FUNC_I2C,
       [](Zentio& z) {
         std::vector<uint8_t> b;
         int16_t n = 2;
         return z.SmbReadI2CBlockNoCmd(b, n, 0x67);
       }},
      {"SmbWriteI2CBlock", I2C_FUNC_SMBUS_WRITE_I2C_BLOCK,
       [](Zentio& z) {
         return z.SmbWriteI2CBlock(0x15, {1, 2}, 2, 0x67);
       }},
      {"SmbWriteReadI2CBlock", I2C_FUNC_I2C,
       [](Zentio& z) {
         std::vector<uint8_t> b(4);
         int16_t n;
         return z.SmbWriteReadI2CBlock(0x15, 0, 2, b, n, 0x67);
       }},
      {"I2CBlockRead", I2C_FUNC_SMBUS_READ_I2C_BLOCK,
       [](Zentio& z) {
         std::vector<uint8_t> b;
         return z.I2CBlockRead(0x15, b, 2, 0x67);
       }},
      {"I2CBlockWrite", I2C_FUNC_SMBUS_WRITE_I2C_BLOCK,
       [](Zentio& z) {
         return z.I2CBlockWrite(0x15, {1, 2}, 2, 0x67);
       }},
      {"I2CByteOp write", I2C_FUNC_SMBUS_WRITE_BYTE_DATA,
       [](Zentio& z) {
         int16_t c = 0x3C;
         return z.I2CByteOp(1, 0x67, 5, c);
       }},
      {"I2CByteOp read", I2C_FUNC_SMBUS_READ_BYTE_DATA,
       [](Zentio& z) {
         int16_t c;
         return z.I2CByteOp(2, 0x67, 5, c);
       }},
  };
}

TEST(I2cDevFunctionality, EachTransferNeedsItsFunctionAndIsRefusedWithoutIt) {
  for (const FuncCase& c : FuncCases()) {
    I2cDevRig rig;
    rig.UsbBus().funcs = FakeKernel::kAllFuncs & ~c.func;
    auto d = rig.Opened();
    const std::size_t before = rig.kernel.calls.size();
    EXPECT_EQ(c.op(*d), VB_INCORRECT_PARAM) << c.name;
    EXPECT_EQ(rig.kernel.calls.size(), before) << c.name << " reached the kernel";
    EXPECT_EQ(d->QueryError(), VB_INCORRECT_PARAM) << c.name;

    rig.UsbBus().funcs = c.func;  // that function alone is enough
    ASSERT_NE(d->OpenDevice(I2cDevRig::kUsbName), -1);
    EXPECT_EQ(c.op(*d), VB_OK) << c.name;
  }
}

TEST(I2cDevClosed, EveryTransactionIsNoUsbAndReachesNoKernel) {
  I2cDevRig rig;
  auto d = rig.Driver();
  for (const FuncCase& c : FuncCases()) EXPECT_EQ(c.op(*d), VB_NO_USB) << c.name;
  int16_t v = 0, r = 0;
  EXPECT_EQ(d->GetVersion(v, r), VB_NO_USB);
  int16_t c = 0;
  EXPECT_EQ(d->I2CByteOp(0, 1, 0, c), VB_NO_USB);
  EXPECT_TRUE(rig.kernel.calls.empty());
}

TEST(I2cDevNotOffered, OneWireFlashPowerAndWireControlAreIncorrectParam) {
  I2cDevRig rig;
  auto d = rig.Opened();
  int16_t w = 0;
  std::vector<uint8_t> a(8), b(8);
  EXPECT_EQ(d->OneWireRead(1, 0x08, w), VB_INCORRECT_PARAM);
  EXPECT_EQ(d->OneWireWrite(1, 0x08, 5), VB_INCORRECT_PARAM);
  EXPECT_EQ(d->FlashFromSrec("a.srec", "", ""), VB_INCORRECT_PARAM);
  EXPECT_EQ(d->FlashProgram(0, 0, a, 8, 0, b, 8, 0x16), VB_INCORRECT_PARAM);
  EXPECT_EQ(d->FlashRead(0, 0, a, 8, b, 8, 0x16), VB_INCORRECT_PARAM);
  int16_t scratch = 7;
  EXPECT_EQ(d->I2CByteOp(0, 1, 0, scratch), VB_INCORRECT_PARAM);
  EXPECT_EQ(d->I2CByteOp(3, 1, 0, scratch), VB_INCORRECT_PARAM);
  EXPECT_EQ(d->I2CByteOp(9, 0x67, 0, scratch), VB_INCORRECT_PARAM);
  EXPECT_EQ(scratch, 7);
  EXPECT_EQ(d->QueryError(), VB_INCORRECT_PARAM);
  const std::size_t before = rig.kernel.calls.size();
  d->OneWireRead(1, 0x08, w);
  EXPECT_EQ(rig.kernel.calls.size(), before);
}

TEST(I2cDevVersion, GivesTheDriversOwn) {
  I2cDevRig rig;
  auto d = rig.Opened();
  int16_t v = -1, r = -1;
  EXPECT_EQ(d->GetVersion(v, r), VB_OK);
  EXPECT_EQ(v, I2cDevDriver::kVersion);
  EXPECT_EQ(r, I2cDevDriver::kRevision);
}

TEST(I2cDevWord, ValuesTravelAsUnsigned16BitWords) {
  I2cDevRig rig;
  auto d = rig.Opened();
  EXPECT_EQ(d->SmbWriteWord(0x15, -1, 0x67), VB_OK);
  EXPECT_EQ(rig.Charger().words[0x15], 0xFFFF);
  rig.Charger().words[0x14] = 0x8001;
  int16_t w = 0;
  EXPECT_EQ(d->SmbReadWord(0x14, w, 0x67), VB_OK);
  EXPECT_EQ(w, static_cast<int16_t>(0x8001));
  EXPECT_EQ(d->SmbReadWord(0x100, w, 0x67), VB_INCORRECT_PARAM);
  EXPECT_EQ(d->SmbWriteWord(-1, 0, 0x67), VB_INCORRECT_PARAM);
}

TEST(I2cDevByteOps, ReadAndWriteOneByteAtAnAddress) {
  I2cDevRig rig;
  FakeChip& eeprom = rig.kernel.Chip(I2cDevRig::kUsbBus, 0x50);
  auto d = rig.Opened();
  int16_t data = 0x3C;
  EXPECT_EQ(d->I2CByteOp(1, 0xA0, 0x05, data), VB_OK);
  EXPECT_EQ(eeprom.memory[0x05], 0x3C);
  int16_t back = -1;
  EXPECT_EQ(d->I2CByteOp(2, 0xA0, 0x05, back), VB_OK);
  EXPECT_EQ(back, 0x3C);
  int16_t big = 0x100;
  EXPECT_EQ(d->I2CByteOp(1, 0xA0, 0x05, big), VB_INCORRECT_PARAM);
  EXPECT_EQ(d->I2CByteOp(2, 0xA0, 0x100, back), VB_INCORRECT_PARAM);
  int16_t c = 0;
  EXPECT_EQ(d->SmbSendCommand(0x42, 0x67), VB_OK);
  EXPECT_EQ(rig.Charger().sent, std::vector<uint8_t>{0x42});
  EXPECT_EQ(d->I2CByteOp(2, 0xB0, 0, c), VB_T2H_NACK) << "nobody at 0x58";
}

TEST(I2cDevSmbBlock, ReadDeliversTheDevicesCountAndGrowsOnlyAShortBuffer) {
  I2cDevRig rig;
  rig.Charger().blocks[0x20] = {0x0A, 0xFF, 0x01};
  auto d = rig.Opened();
  std::vector<uint8_t> small;
  int16_t n = -1;
  EXPECT_EQ(d->SmbReadBlock(0x20, small, n, 0x67), VB_OK);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(small, (std::vector<uint8_t>{0x0A, 0xFF, 0x01}));
  std::vector<uint8_t> big(129, 0xEE);
  EXPECT_EQ(d->SmbReadBlock(0x20, big, n, 0x67), VB_OK);
  EXPECT_EQ(big.size(), 129u);
  EXPECT_EQ(big[2], 0x01);
  EXPECT_EQ(big[3], 0xEE);
  // A device claiming more than 32 bytes is a protocol error.
  rig.Charger().blockCountOverride = 40;
  EXPECT_EQ(d->SmbReadBlock(0x20, small, n, 0x67), VB_WRONG_NUM_BYTES);
  EXPECT_EQ(n, 0);
}

TEST(I2cDevSmbBlock, WriteCountMustFitTheBytesAndTheBlockLimit) {
  I2cDevRig rig;
  auto d = rig.Opened();
  const std::vector<uint8_t> bytes(40, 0x11);
  EXPECT_EQ(d->SmbWriteBlock(0x20, bytes, 32, 0x67), VB_OK);
  EXPECT_EQ(rig.Charger().blocks[0x20].size(), 32u);
  const std::size_t before = rig.kernel.calls.size();
  EXPECT_EQ(d->SmbWriteBlock(0x20, bytes, 33, 0x67), VB_INCORRECT_PARAM);
  EXPECT_EQ(d->SmbWriteBlock(0x20, {1, 2}, 3, 0x67), VB_INCORRECT_PARAM);
  EXPECT_EQ(d->SmbWriteBlock(0x20, {}, -1, 0x67), VB_INCORRECT_PARAM);
  EXPECT_EQ(d->SmbWriteI2CBlock(0x20, bytes, 33, 0x67), VB_INCORRECT_PARAM);
  EXPECT_EQ(d->SmbWriteI2CBlock(0x20, {1, 2}, 3, 0x67), VB_INCORRECT_PARAM);
  EXPECT_EQ(rig.kernel.calls.size(), before);
}

TEST(I2cDevI2cBlock, ReadAndWriteAtAWordAddress) {
  I2cDevRig rig;
  auto d = rig.Opened();
  EXPECT_EQ(d->I2CBlockWrite(0x15, {0xA0, 0x41}, 2, 0x67), VB_OK);
  EXPECT_EQ(rig.Charger().memory[0x15], 0xA0);
  EXPECT_EQ(rig.Charger().memory[0x16], 0x41);
  std::vector<uint8_t> buf;
  EXPECT_EQ(d->I2CBlockRead(0x15, buf, 2, 0x67), VB_OK);
  EXPECT_EQ(buf, (std::vector<uint8_t>{0xA0, 0x41}));
  std::vector<uint8_t> untouched{9, 9};
  EXPECT_EQ(d->I2CBlockRead(0x15, untouched, 2, 0x20), VB_T2H_NACK);
  EXPECT_EQ(untouched, (std::vector<uint8_t>{9, 9})) << "no bytes copied on failure";
}

TEST(I2cDevI2cBlock, ReadsAbove32BytesGoAs32ByteTransfersAtConsecutiveAddresses) {
  I2cDevRig rig;
  for (int i = 0; i < 256; ++i) rig.Charger().memory[i] = static_cast<uint8_t>(i ^ 0x5A);
  auto d = rig.Opened();
  std::vector<uint8_t> buf;
  EXPECT_EQ(d->I2CBlockRead(0x10, buf, 70, 0x67), VB_OK);
  ASSERT_EQ(buf.size(), 70u);
  for (int i = 0; i < 70; ++i) EXPECT_EQ(buf[i], (0x10 + i) ^ 0x5A) << i;
  std::vector<std::pair<int, int>> chunks;
  for (const auto& c : rig.kernel.calls)
    if (c.op == "ReadI2cBlock") chunks.emplace_back(c.command, c.length);
  EXPECT_EQ(chunks, (std::vector<std::pair<int, int>>{{0x10, 32}, {0x30, 32}, {0x50, 6}}));

  std::vector<uint8_t> all;
  EXPECT_EQ(d->I2CBlockRead(0x00, all, 256, 0x67), VB_OK);
  EXPECT_EQ(all.size(), 256u);
  int16_t n = 40;
  std::vector<uint8_t> viaSmb;
  EXPECT_EQ(d->SmbReadI2CBlock(0x20, viaSmb, n, 0x67), VB_OK);
  EXPECT_EQ(n, 40);
  EXPECT_EQ(viaSmb[39], (0x20 + 39) ^ 0x5A);
}

TEST(I2cDevI2cBlock, SplitReadsStayInTheOneByteAddressRangeAndAFailingChunkDeliversNothing) {
  I2cDevRig rig;
  auto d = rig.Opened();
  std::vector<uint8_t> buf;
  EXPECT_EQ(d->I2CBlockRead(0xDF, buf, 33, 0x67), VB_OK) << "ends at 0xFF";
  EXPECT_EQ(d->I2CBlockRead(0xE0, buf, 33, 0x67), VB_INCORRECT_PARAM) << "would pass 0xFF";
  EXPECT_EQ(d->I2CBlockRead(0x00, buf, 257, 0x67), VB_INCORRECT_PARAM);
  EXPECT_EQ(d->I2CBlockRead(0xF0, buf, 32, 0x67), VB_OK) << "one transfer: the device wraps";
  std::vector<uint8_t> keep(3, 7);
  rig.kernel.failNext = {0, ETIMEDOUT};
  EXPECT_EQ(d->I2CBlockRead(0x00, keep, 64, 0x67), VB_TIMEOUT_ERROR);
  EXPECT_EQ(keep, std::vector<uint8_t>(3, 7));
}

TEST(I2cDevI2cBlock, WritesAbove32BytesAreRefused) {
  I2cDevRig rig;
  auto d = rig.Opened();
  const std::vector<uint8_t> bytes(64, 0x22);
  EXPECT_EQ(d->I2CBlockWrite(0x00, bytes, 32, 0x67), VB_OK);
  const std::size_t before = rig.kernel.calls.size();
  EXPECT_EQ(d->I2CBlockWrite(0x00, bytes, 33, 0x67), VB_INCORRECT_PARAM);
  EXPECT_EQ(d->I2CBlockWrite(0x00, {1}, 2, 0x67), VB_INCORRECT_PARAM);
  EXPECT_EQ(d->I2CBlockWrite(0x100, bytes, 2, 0x67), VB_INCORRECT_PARAM);
  EXPECT_EQ(rig.kernel.calls.size(), before);
}

TEST(I2cDevRawI2c, ReadWithoutCommandAndWriteThenReadUseOneCombinedTransfer) {
  I2cDevRig rig;
  for (int i = 0; i < 256; ++i) rig.Charger().memory[i] = static_cast<uint8_t>(i);
  auto d = rig.Opened();
  ASSERT_EQ(d->SmbSendCommand(0x40, 0x67), VB_OK);  // sets the device's pointer
  std::vector<uint8_t> buf;
  int16_t n = 3;
  EXPECT_EQ(d->SmbReadI2CBlockNoCmd(buf, n, 0x67), VB_OK);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(buf, (std::vector<uint8_t>{0x40, 0x41, 0x42}));
  ASSERT_EQ(rig.kernel.transfers.size(), 1u);
  ASSERT_EQ(rig.kernel.transfers[0].size(), 1u);
  EXPECT_EQ(rig.kernel.transfers[0][0].first, I2C_M_RD);

  // Elements 0 to writeLength of the buffer follow the command, then the read.
  std::vector<uint8_t> wr{0x99, 0x98, 0, 0};
  int16_t got = -1;
  EXPECT_EQ(d->SmbWriteReadI2CBlock(0x80, 1, 2, wr, got, 0x67), VB_OK);
  ASSERT_EQ(rig.kernel.transfers.size(), 2u);
  ASSERT_EQ(rig.kernel.transfers[1].size(), 2u);
  EXPECT_EQ(rig.kernel.transfers[1][0].second, (std::vector<uint8_t>{0x80, 0x99, 0x98}));
  EXPECT_EQ(rig.kernel.transfers[1][1].first, I2C_M_RD);
  EXPECT_EQ(got, 2);
  EXPECT_EQ(rig.Charger().memory[0x80], 0x99);
  EXPECT_EQ(wr[0], 0x99) << "read back from 0x80";
  EXPECT_EQ(wr[1], 0x98);
}

TEST(I2cDevRawI2c, SizesOutsideTheLimitsAreRefused) {
  I2cDevRig rig;
  auto d = rig.Opened();
  std::vector<uint8_t> buf(64);
  int16_t n = 33;
  EXPECT_EQ(d->SmbReadI2CBlockNoCmd(buf, n, 0x67), VB_INCORRECT_PARAM);
  EXPECT_EQ(n, 0);
  int16_t got = -1;
  EXPECT_EQ(d->SmbWriteReadI2CBlock(0x80, 32, 2, buf, got, 0x67), VB_INCORRECT_PARAM)
      << "33 bytes to write";
  EXPECT_EQ(d->SmbWriteReadI2CBlock(0x80, 1, 33, buf, got, 0x67), VB_INCORRECT_PARAM);
  std::vector<uint8_t> one(1);
  EXPECT_EQ(d->SmbWriteReadI2CBlock(0x80, 1, 2, one, got, 0x67), VB_INCORRECT_PARAM)
      << "buffer holds only element 0";
  EXPECT_EQ(got, 0);
  EXPECT_TRUE(rig.kernel.transfers.empty());
}

// Whatever sizes a caller passes, nothing is read or written past a buffer's end (ASan watches).
TEST(I2cDevBufferLimits, NoSizeReachesPastABuffer) {
  I2cDevRig rig;
  auto d = rig.Opened();
  const int16_t sizes[] = {-32768, -1, 0, 1, 2, 31, 32, 33, 255, 256, 257, 32767};
  const std::size_t bufferSizes[] = {0, 1, 2, 32, 33, 300};
  for (int16_t size : sizes) {
    for (std::size_t bs : bufferSizes) {
      std::vector<uint8_t> buf(bs, 0xAB);
      const std::vector<uint8_t> bytes(bs, 0xCD);
      int16_t len = size;
      d->SmbReadI2CBlock(0x10, buf, len, 0x67);
      EXPECT_LE(static_cast<std::size_t>(std::max<int16_t>(len, 0)), buf.size());
      len = size;
      d->SmbReadI2CBlockNoCmd(buf, len, 0x67);
      EXPECT_LE(static_cast<std::size_t>(std::max<int16_t>(len, 0)), buf.size());
      d->SmbReadBlock(0x10, buf, len, 0x67);
      EXPECT_LE(static_cast<std::size_t>(len), buf.size());
      if (d->I2CBlockRead(0x10, buf, size, 0x67) == VB_OK) {
        EXPECT_GE(buf.size(), static_cast<std::size_t>(size));
      }
      d->I2CBlockWrite(0x10, bytes, size, 0x67);
      d->SmbWriteBlock(0x10, bytes, size, 0x67);
      d->SmbWriteI2CBlock(0x10, bytes, size, 0x67);
      for (int16_t readLength : {int16_t{-1}, int16_t{1}, size}) {
        int16_t got = 0;
        std::vector<uint8_t> wr(bs, 0x01);
        if (d->SmbWriteReadI2CBlock(0x10, size, readLength, wr, got, 0x67) == VB_OK) {
          EXPECT_LE(static_cast<std::size_t>(got), wr.size());
        }
      }
    }
  }
}

}  // namespace

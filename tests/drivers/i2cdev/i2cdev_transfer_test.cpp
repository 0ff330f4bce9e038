// Transactions over the fake kernel: addresses, claimed addresses, the errno table, the
// functionality checks, block sizes and buffer limits, what i2c-dev cannot offer, and unplugging.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "I2cDevFakeKernel.h"
#include "adapter/ErrorCodes.h"

namespace {

using ::testing::HasSubstr;
using V = std::vector<uint8_t>;

// A named transaction, and what it needs besides the control: a buffer, a length and a word.
struct Scratch {
  V b = V(64);
  int16_t n = 2, w = 0x3C;
};
using Z = Zentio;
using S = Scratch;
using Op = std::pair<const char*, std::function<int16_t(Z&, S&)>>;
int16_t Call(const Op& op, Zentio& z) {
  Scratch s;
  return op.second(z, s);
}

TEST(I2cDevAddress, EightBitTargetsReachTheSevenBitAddressSetOnlyWhenItChanges) {
  I2cDevRig rig;
  for (int a7 : {0x00, 0x33, 0x50, 0x7F})
    rig.kernel.Chip(3, static_cast<uint8_t>(a7)).words[0x15] = 0x4100 | a7;
  auto d = rig.Opened();
  const std::pair<int16_t, int> cases[] = {{0x66, 0x33}, {0x67, 0x33}, {0xA0, 0x50}, {0xA1, 0x50},
                                           {0x00, 0x00}, {0xFF, 0x7F}, {0x66, 0x33}};
  for (const auto& [target, a7] : cases) {
    int16_t w = 0;
    EXPECT_EQ(d->SmbReadWord(0x15, w, target), VB_OK) << target;
    EXPECT_EQ(w, 0x4100 | a7) << target;
  }
  EXPECT_EQ(rig.kernel.Count("SetAddress"), 5) << "not again from 0x66 to 0x67";
  ASSERT_NE(d->OpenDevice(I2cDevRig::kUsbName),
            -1);  // a reopen forgets the old descriptor's address
  d->SmbWriteWord(0x12, 5, 0x67);
  EXPECT_EQ(rig.kernel.Count("SetAddress"), 6);
}

// i2cdetect shows 7-bit addresses, Korvo takes 8-bit ones: a transfer nobody acknowledged
// leaves a note with both, in each bridge's way of saying so.
TEST(I2cDevAddress, ANackLeavesANoteNamingBothAddressForms) {
  const std::pair<int, bool> cases[] = {{ENXIO, true}, {EREMOTEIO, true}, {ETIMEDOUT, true},
                                        {EIO, true},   {EBADMSG, false},  {EAGAIN, false}};
  for (const auto& [err, noted] : cases) {
    I2cDevRig rig;
    auto d = rig.Opened();
    rig.kernel.failNext = {err};
    int16_t w = 0;
    EXPECT_NE(d->SmbReadWord(0x15, w, 0x33), VB_OK);
    EXPECT_EQ(I2cDevDiagnostics().find(
                  "/dev/i2c-3 (CP2112 SMBus Bridge on hidraw0): no answer at 8-bit 0x33 "
                  "(7-bit 0x19); i2cdetect's 0x33 is Korvo's 0x66.") != std::string::npos,
              noted)
        << err << ": " << I2cDevDiagnostics();
  }
}

TEST(I2cDevAddress, AnAddressClaimedByAKernelDriverIsBusyAndSaidSoUnlessForced) {
  I2cDevRig rig;
  rig.UsbBus().claimed.insert(0x33);
  rig.Charger().words[0x15] = 0x1234;
  auto d = rig.Opened();
  int16_t w = 0;
  EXPECT_EQ(d->SmbReadWord(0x15, w, 0x67), VB_BUS_BUSY);
  EXPECT_EQ(d->SmbReadWord(0x15, w, 0x67), VB_BUS_BUSY);
  EXPECT_EQ(d->QueryError(), VB_BUS_BUSY);
  EXPECT_EQ(rig.kernel.Count("SetAddress"), 2) << "tried again each time, not remembered as set";
  EXPECT_EQ(rig.kernel.Count("ReadWord") + rig.kernel.Count("SetAddressForce"), 0);
  EXPECT_THAT(I2cDevDiagnostics(),
              HasSubstr("address 0x33 (8-bit 0x66/0x67) is claimed by a kernel "
                        "driver. Unbind that driver, or set ForceAddress=1"));
  d = rig.Opened({"", true});
  EXPECT_EQ(d->SmbReadWord(0x15, w, 0x67), VB_OK);
  EXPECT_EQ(w, 0x1234);
  EXPECT_THAT(I2cDevDiagnostics(), HasSubstr("used anyway"));
}

// Every errno of the table, and one outside it.
TEST(I2cDevErrno, EachKernelErrorReadsAsItsStatus) {
  std::vector<ErrnoStatus> rows(I2cDevErrnoTable().begin(), I2cDevErrnoTable().end());
  rows.push_back({EINTR, VB_UNKNOWN});
  I2cDevRig rig;
  for (const auto& [error, status] : rows) {
    SCOPED_TRACE(strerrorname_np(error));
    auto d = rig.Opened();  // a fresh control: ENODEV and ESHUTDOWN end the old one
    rig.kernel.failNext = {error};
    int16_t w = 0x5555;
    EXPECT_EQ(d->SmbReadWord(0x15, w, 0x67), status);
    EXPECT_EQ(w, 0x5555) << "a failed read leaves the word alone";
    EXPECT_EQ(d->QueryError(), status) << "QueryError reports the last transaction";
    // Only an adapter that has gone closes the bus; after anything else the next read works.
    const int16_t next = status == VB_NO_USB ? VB_NO_USB : VB_OK;
    EXPECT_EQ(rig.kernel.OpenFds(), status == VB_NO_USB ? 0 : 1);
    EXPECT_EQ(d->SmbReadWord(0x15, w, 0x67), next);
    EXPECT_EQ(d->QueryError(), next) << "not an older one";
  }
}

// The errno table, which the reads above follow: each errno its own status, none more.
TEST(I2cDevErrno, EveryRowOfTheTableHasItsStatus) {
  const std::map<int, int16_t> expected{
      {ENXIO, VB_T2H_NACK},         {EREMOTEIO, VB_T2H_NACK},  {ETIMEDOUT, VB_TIMEOUT_ERROR},
      {EAGAIN, VB_BUS_BUSY},        {EBUSY, VB_BUS_BUSY},      {EBADMSG, VB_BAD_PEC},
      {EPROTO, VB_WRONG_NUM_BYTES}, {ENODEV, VB_NO_USB},       {ESHUTDOWN, VB_NO_USB},
      {EOPNOTSUPP, VB_INCORRECT_PARAM}, {EINVAL, VB_INCORRECT_PARAM}, {EIO, VB_UNKNOWN}};
  std::map<int, int16_t> table;
  for (const ErrnoStatus& row : I2cDevErrnoTable()) table[row.error] = row.status;
  EXPECT_EQ(I2cDevErrnoTable().size(), expected.size()) << "one row per errno";
  EXPECT_EQ(table, expected);
}

// Every transaction with the functionality it needs.
// clang-format off
const std::pair<unsigned long, Op> kFuncCases[] = {
    {I2C_FUNC_SMBUS_READ_WORD_DATA, {"SmbReadWord", [](Z& z, S& s) { return z.SmbReadWord(0x15, s.w, 0x67); }}},
    {I2C_FUNC_SMBUS_WRITE_WORD_DATA, {"SmbWriteWord", [](Z& z, S&) { return z.SmbWriteWord(0x15, 1, 0x67); }}},
    {I2C_FUNC_SMBUS_WRITE_BYTE, {"SmbSendCommand", [](Z& z, S&) { return z.SmbSendCommand(0x15, 0x67); }}},
    {I2C_FUNC_SMBUS_WRITE_BLOCK_DATA, {"SmbWriteBlock", [](Z& z, S& s) { return z.SmbWriteBlock(0x15, s.b, 2, 0x67); }}},
    {I2C_FUNC_SMBUS_READ_BLOCK_DATA, {"SmbReadBlock", [](Z& z, S& s) { return z.SmbReadBlock(0x15, s.b, s.n, 0x67); }}},
    {I2C_FUNC_SMBUS_READ_I2C_BLOCK, {"SmbReadI2CBlock", [](Z& z, S& s) { return z.SmbReadI2CBlock(0x15, s.b, s.n, 0x67); }}},
    {I2C_FUNC_I2C, {"SmbReadI2CBlockNoCmd", [](Z& z, S& s) { return z.SmbReadI2CBlockNoCmd(s.b, s.n, 0x67); }}},
    {I2C_FUNC_SMBUS_WRITE_I2C_BLOCK, {"SmbWriteI2CBlock", [](Z& z, S& s) { return z.SmbWriteI2CBlock(0x15, s.b, 2, 0x67); }}},
    {I2C_FUNC_SMBUS_WRITE_BYTE_DATA, {"I2CByteOp write", [](Z& z, S& s) { return z.I2CByteOp(1, 0x67, 5, s.w); }}},
    {I2C_FUNC_SMBUS_READ_BYTE_DATA, {"I2CByteOp read", [](Z& z, S& s) { return z.I2CByteOp(2, 0x67, 5, s.w); }}},
};
// clang-format on

TEST(I2cDevFunctionality, EachTransferNeedsItsFunction) {
  I2cDevRig rig;
  auto d = rig.Driver();
  for (const auto& [func, op] : kFuncCases) {
    rig.UsbBus().funcs = FakeKernel::kAllFuncs & ~func;
    ASSERT_NE(d->OpenDevice(I2cDevRig::kUsbName), -1);
    const std::size_t before = rig.kernel.calls.size();
    EXPECT_EQ(Call(op, *d), VB_INCORRECT_PARAM) << op.first;
    EXPECT_EQ(rig.kernel.calls.size(), before) << op.first << " reached the kernel";
    EXPECT_EQ(d->QueryError(), VB_INCORRECT_PARAM) << op.first;
    rig.UsbBus().funcs = func;  // that function alone is enough
    ASSERT_NE(d->OpenDevice(I2cDevRig::kUsbName), -1);
    EXPECT_EQ(Call(op, *d), VB_OK) << op.first;
  }
}

// Arguments outside the limits, and what i2c-dev cannot do: VB_INCORRECT_PARAM before the kernel.
TEST(I2cDevRefused, BadArgumentsAndOperationsNotOfferedNeverReachTheKernel) {
  I2cDevRig rig;
  auto d = rig.Opened();
  for (const Op& op : std::initializer_list<Op>{
           {"target -1", [](Z&z, S&s) { return z.SmbReadWord(0x15, s.w, -1); }},
           {"target 0x100", [](Z&z, S&s) { return z.SmbReadWord(0x15, s.w, 0x100); }},
           {"read command 0x100", [](Z&z, S&s) { return z.SmbReadWord(0x100, s.w, 0x67); }},
           {"I2C power", [](Z&z, S&s) { return z.I2CByteOp(0, 1, 0, s.w); }},
           {"one-wire read", [](Z&z, S&s) { return z.OneWireRead(1, 0x08, s.w); }},
           {"flash read", [](Z&z, S&s) { return z.FlashRead(0, 0, s.b, 8, s.b, 8, 0x16); }}}) {
    const std::size_t before = rig.kernel.calls.size();
    EXPECT_EQ(Call(op, *d), VB_INCORRECT_PARAM) << op.first;
    EXPECT_EQ(d->QueryError(), VB_INCORRECT_PARAM) << op.first;
    EXPECT_EQ(rig.kernel.calls.size(), before) << op.first;
  }
}

TEST(I2cDevTransfers, WordsBytesBlocksAndRawI2cTravelUnchanged) {
  I2cDevRig rig;
  FakeChip& c = rig.Charger();
  c.blocks[0x20] = {0x0A, 0xFF, 0x01};
  c.words[0x14] = 0x8001;
  for (int i = 0; i < 256; ++i) c.memory[i] = static_cast<uint8_t>(i);
  auto d = rig.Opened();
  int16_t w = 0x3C, n = -1;
  EXPECT_EQ(d->SmbWriteWord(0x15, -1, 0x67), VB_OK);
  EXPECT_EQ(c.words[0x15], 0xFFFF);
  EXPECT_EQ(d->SmbReadWord(0x14, w, 0x67), VB_OK);
  EXPECT_EQ(w, static_cast<int16_t>(0x8001));
  w = 0x3C;
  EXPECT_EQ(d->I2CByteOp(1, 0x66, 0x05, w), VB_OK);
  EXPECT_EQ(d->I2CByteOp(2, 0x66, 0x06, w), VB_OK);
  EXPECT_EQ(c.memory[0x05], 0x3C);
  EXPECT_EQ(w, 0x06);
  // SMBus blocks: the device's count; only a buffer too short grows.
  V small, big(129, 0xEE);
  EXPECT_EQ(d->SmbReadBlock(0x20, small, n, 0x67), VB_OK);
  EXPECT_EQ(small, (V{0x0A, 0xFF, 0x01}));
  EXPECT_EQ(d->SmbReadBlock(0x20, big, n, 0x67), VB_OK);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(big.size(), 129u);
  EXPECT_EQ(V(big.begin(), big.begin() + 4), (V{0x0A, 0xFF, 0x01, 0xEE}));
  EXPECT_EQ(d->SmbWriteBlock(0x21, big, 32, 0x67), VB_OK);
  EXPECT_EQ(c.blocks[0x21], V(big.begin(), big.begin() + 32));
  c.blocks[0x20].resize(40);  // a device claiming more than 32 bytes
  EXPECT_EQ(d->SmbReadBlock(0x20, small, n, 0x67), VB_WRONG_NUM_BYTES);
  EXPECT_EQ(n, 0);
  // Raw I2C: a read without command and a write-then-read, each one combined transfer.
  ASSERT_EQ(d->SmbSendCommand(0x40, 0x67), VB_OK);  // sets the device's pointer
  n = 3;
  EXPECT_EQ(d->SmbReadI2CBlockNoCmd(small, n, 0x67), VB_OK);
  EXPECT_EQ(small, (V{0x40, 0x41, 0x42}));
  // Elements 0 to writeLength of the buffer follow the command, then the read from there.
  V wr{0x99, 0x98, 0, 0};
  EXPECT_EQ(d->SmbWriteReadI2CBlock(0x80, 1, 2, wr, n, 0x67), VB_OK);
  EXPECT_EQ(rig.kernel.Count("Transfer"), 2);
  EXPECT_EQ(rig.kernel.calls.back().length, 3 + 2) << "command and two bytes out, two in";
  EXPECT_EQ(n, 2);
  EXPECT_EQ(c.memory[0x81], 0x98);
  EXPECT_EQ(V(wr.begin(), wr.begin() + 2), (V{0x99, 0x98})) << "read back from 0x80";
}

TEST(I2cDevTransfers, ReadsAbove32BytesGoAs32ByteTransfersAtConsecutiveAddresses) {
  I2cDevRig rig;
  for (int i = 0; i < 256; ++i) rig.Charger().memory[i] = static_cast<uint8_t>(i ^ 0x5A);
  auto d = rig.Opened();
  V buf;
  EXPECT_EQ(d->I2CBlockRead(0x20, buf, 70, 0x67), VB_OK);
  ASSERT_EQ(buf.size(), 70u);
  for (int i = 0; i < 70; ++i) EXPECT_EQ(buf[i], (0x20 + i) ^ 0x5A) << i;
  std::vector<std::pair<int, int>> chunks;
  for (const auto& c : rig.kernel.calls)
    if (c.op == "ReadI2cBlock") chunks.emplace_back(c.command, c.length);
  EXPECT_EQ(chunks, (std::vector<std::pair<int, int>>{{0x20, 32}, {0x40, 32}, {0x60, 6}}));
  V keep(3, 7);
  rig.kernel.failNext = {0, ETIMEDOUT};
  EXPECT_EQ(d->I2CBlockRead(0x00, keep, 64, 0x67), VB_TIMEOUT_ERROR);
  EXPECT_EQ(keep, V(3, 7)) << "a failed read delivers nothing";
}

// Every size a caller may pass: served within the buffers, or refused before the kernel with no
// length delivered. Transfers go up to 32 bytes; longer reads are split within the one-byte
// address range, longer writes refused. Nothing past a buffer's end is touched (ASan watches).
TEST(I2cDevBufferLimits, EverySizeIsServedWithinTheBuffersOrRefused) {
  I2cDevRig rig;
  auto d = rig.Opened();
  const auto expect = [](bool ok) { return ok ? VB_OK : VB_INCORRECT_PARAM; };
  for (int16_t size : {-32768, -1, 0, 1, 2, 31, 32, 33, 240, 241, 256, 257, 32767}) {
    for (std::size_t bs : {0, 1, 2, 32, 33, 300}) {
      SCOPED_TRACE(std::to_string(size) + " with " + std::to_string(bs) + " bytes");
      V buf(bs, 0xAB);
      const V bytes(bs, 0xCD);
      const bool readable = size >= 1 && size <= 0x100 - 0x10;  // from 0x10
      const bool writable = size >= 0 && size <= 32 && static_cast<std::size_t>(size) <= bs;
      int16_t len = size;
      EXPECT_EQ(d->SmbReadI2CBlock(0x10, buf, len, 0x67), expect(readable));
      EXPECT_EQ(len, readable ? size : 0);
      len = size;
      EXPECT_EQ(d->SmbReadI2CBlockNoCmd(buf, len, 0x67), expect(size >= 1 && size <= 32));
      EXPECT_LE(static_cast<std::size_t>(len), buf.size());
      EXPECT_EQ(d->I2CBlockRead(0x10, buf, size, 0x67), expect(readable));
      EXPECT_GE(buf.size(), static_cast<std::size_t>(readable ? size : 0));
      d->SmbReadBlock(0x10, buf, len, 0x67);
      EXPECT_LE(static_cast<std::size_t>(len), buf.size());
      EXPECT_EQ(d->I2CBlockWrite(0x10, bytes, size, 0x67), expect(writable));
      EXPECT_EQ(d->SmbWriteBlock(0x10, bytes, size, 0x67), expect(writable));
      EXPECT_EQ(d->SmbWriteI2CBlock(0x10, bytes, size, 0x67), expect(writable));
      // Elements 0 to writeLength go out after the command.
      for (int16_t readLength : {-1, 0, 1, 32, 33}) {
        V wr(bs, 0x01);
        len = 7;
        const bool ok = size >= 0 && size < 32 && static_cast<std::size_t>(size) < bs &&
                        readLength >= 1 && readLength <= 32;
        EXPECT_EQ(d->SmbWriteReadI2CBlock(0x10, size, readLength, wr, len, 0x67), expect(ok))
            << readLength;
        EXPECT_EQ(len, ok ? readLength : 0);
        EXPECT_LE(static_cast<std::size_t>(len), wr.size());
      }
    }
  }
}

// Unplugging in the middle of a scan: the descriptor closes at once, so the kernel can finish
// the removal, and every later transaction is VB_NO_USB without touching the kernel again.
TEST(I2cDevUnplug, InTheMiddleOfAScanTheFdClosesAtOnceAndEveryLaterReadIsNoUsb) {
  I2cDevRig rig;
  auto d = rig.Opened();
  std::vector<int16_t> statuses;
  std::size_t callsAtFailure = 0;
  for (int16_t r = 0x10, w = 0; r <= 0x19; ++r) {
    rig.UsbBus().unplugged = r >= 0x14;  // ENODEV from 0x14 on
    statuses.push_back(d->SmbReadWord(r, w, 0x67));
    if (r != 0x14) continue;
    callsAtFailure = rig.kernel.calls.size();
    EXPECT_EQ(rig.kernel.OpenFds(), 0) << "closed right at the first failure";
  }
  EXPECT_EQ(statuses, (std::vector<int16_t>{0, 0, 0, 0, 2, 2, 2, 2, 2, 2}));
  EXPECT_THAT(I2cDevDiagnostics(), HasSubstr("has gone (unplugged?)"));
  rig.UsbBus().unplugged = false;  // plugged in again: still gone until the program restarts
  EXPECT_EQ(d->OpenDevice(I2cDevRig::kUsbName), -1);
  EXPECT_EQ(d->SmbWriteWord(0x15, 1, 0x67), VB_NO_USB);
  d->Wait(0);
  EXPECT_EQ(d->QueryError(), VB_NO_USB);
  EXPECT_EQ(rig.kernel.calls.size(), callsAtFailure)
      << "nothing reaches the kernel after the failure";
  EXPECT_THAT(I2cDevDiagnostics(), HasSubstr("restart the program"));
  d->DeviceClose();
  d.reset();
  EXPECT_EQ(rig.kernel.Count("Close"), 1) << "closed once, not again at close or destruction";
  EXPECT_EQ(rig.kernel.callsAfterClose, 0);
}

}  // namespace

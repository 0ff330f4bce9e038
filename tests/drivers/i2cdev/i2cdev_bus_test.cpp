// Choosing the bus: sysfs enumeration, USB detection, the default list, the Bus key in every
// form, opening, and what the user is told when a bus cannot be used; the real kernel seam, as
// far as it can be tried without an I2C bus.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "I2cDevFakeKernel.h"
#include "adapter/ErrorCodes.h"
#include "support/RecordingSink.h"

namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

// "count:names" as ListFreeDevices gives them.
std::string List(Zentio& z, int32_t limit = 16) {
  int32_t n = -1;
  std::string names;
  z.ListFreeDevices(limit, n, names);
  return std::to_string(n) + ":" + names;
}
const std::string kUsbListed = std::string("1:") + I2cDevRig::kUsbName;

TEST(I2cDevListing, DefaultListsOnlyUsbBuses) {
  I2cDevRig rig;
  rig.sysfs.AddUsbBus(7, "i2c-tiny-usb at bus 001 device 005", "0403", "c631");
  rig.kernel.AddBus(7);
  auto d = rig.Driver();
  EXPECT_EQ(List(*d),
            std::string("2:") + I2cDevRig::kUsbName + ",i2c-7 i2c-tiny-usb at bus 001 device 005");
  EXPECT_EQ(List(*d, 1), kUsbListed) << "the limit caps the list";
  EXPECT_EQ(List(*d, 0), "0:");
}

// Opened only by its listed name or bus token, one at a time; the motherboard bus not at all.
TEST(I2cDevListing, OpensOnlyAListedUsbBus) {
  I2cDevRig rig;
  rig.sysfs.AddUsbBus(7, "i2c-tiny-usb at bus 001 device 005", "0403", "c631");
  rig.kernel.AddBus(7);
  auto d = rig.Driver();
  EXPECT_NE(d->OpenDevice(I2cDevRig::kUsbName), -1);
  EXPECT_NE(d->OpenDevice("i2c-3"), -1);
  EXPECT_EQ(rig.kernel.OpenFds(), 1) << "a second open replaces the first";
  for (const char* name : {"dummy", "", "i2c-0 SMBus I801 adapter at efa0"})
    EXPECT_EQ(d->OpenDevice(name), -1);
  EXPECT_THAT(I2cDevDiagnostics(), HasSubstr("Bus="));
  for (const auto& p : rig.kernel.openedPaths) EXPECT_NE(p, "/dev/i2c-0");
  EXPECT_EQ(rig.kernel.OpenFds(), 0) << "listing and failed opens leave no bus open";
}

TEST(I2cDevListing, BusThatCannotBeUsedIsLeftOutAndExplainedUntilItCanBe) {
  I2cDevRig rig;
  auto d = rig.Driver();
  const std::tuple<int, int, const char*> cases[] = {
      {EACCES, 0, "i2c group"},      {EACCES, 0, "udev rule"},
      {EPERM, 0, "i2c group"},       {EBUSY, 0, "busy"},
      {ENODEV, 0, "no such device"}, {0, EIO, "functionality query failed"}};
  for (const auto& [openErrno, funcsErrno, expected] : cases) {
    rig.UsbBus().openErrno = openErrno;
    rig.UsbBus().funcsErrno = funcsErrno;
    for (bool listing : {true, false}) {  // the same note from listing and from opening
      ClearI2cDevDiagnostics();
      EXPECT_EQ(listing ? List(*d) : std::to_string(d->OpenDevice(I2cDevRig::kUsbName)),
                listing ? "0:" : "-1");
      EXPECT_EQ(rig.kernel.OpenFds(), 0) << expected;
      EXPECT_THAT(
          I2cDevDiagnostics(),
          AllOf(HasSubstr("/dev/i2c-3 (CP2112 SMBus Bridge on hidraw0)"), HasSubstr(expected)));
    }
  }
  rig.UsbBus() = {};
  EXPECT_EQ(List(*d), kUsbListed);
  EXPECT_EQ(I2cDevDiagnostics(), "") << "each listing renews the notes";
  I2cDevRig bare(/*withBridge=*/false);
  EXPECT_EQ(List(*bare.Driver()), "0:");
  EXPECT_TRUE(bare.kernel.openedPaths.empty());
  EXPECT_THAT(I2cDevDiagnostics(),
              HasSubstr("No USB-attached I2C bus found (buses seen: i2c-0 SMBus I801 "
                        "adapter at efa0 (not USB)). Plug in a USB-to-I2C/SMBus "
                        "bridge, or name a bus with Bus= in section [Adapter]."));
}

// The Bus key names one bus, USB or not, in any of its forms.
TEST(I2cDevBusKey, NamesOneBusByPathNumberOrAdapterName) {
  I2cDevRig rig;
  for (const char* form :
       {"/dev/i2c-0", "0", "I2C-0", "smbus i801 ADAPTER at efa0", "SMBus I801"}) {
    auto d = rig.Driver({form, false});
    rig.kernel.openedPaths.clear();
    EXPECT_EQ(List(*d), "1:i2c-0 SMBus I801 adapter at efa0") << form;
    EXPECT_NE(d->OpenDevice("i2c-0 SMBus I801 adapter at efa0"), -1) << form;
    EXPECT_EQ(rig.kernel.openedPaths, std::vector<std::string>{"/dev/i2c-0"}) << form;
  }
  for (const char* form : {"i2c-9", "No Such Bridge", "99999999999999"}) {
    ClearI2cDevDiagnostics();
    EXPECT_EQ(List(*rig.Driver({form, false})), "0:") << form;
    EXPECT_NE(I2cDevDiagnostics(), "") << form << ": says why";
  }
}

// What OpenFirstFreeDevice does: a listing, then an open of the first bus listed.
TEST(I2cDevListing, ListingThenOpeningOpensAndQueriesTheBusOnce) {
  I2cDevRig rig;
  auto d = rig.Driver();
  EXPECT_EQ(List(*d), kUsbListed);
  ASSERT_NE(d->OpenDevice(I2cDevRig::kUsbName), -1);
  EXPECT_EQ(std::make_pair(rig.kernel.Count("Open"), rig.kernel.Count("Funcs")),
            std::make_pair(1, 1));
  int16_t w = 0;
  EXPECT_EQ(d->SmbReadWord(0x15, w, 0x67), VB_OK)
      << "the descriptor from the listing carries the transfers";
  d->DeviceClose();
  EXPECT_EQ(rig.kernel.OpenFds(), 0);
  List(*d);
  d.reset();
  EXPECT_EQ(rig.kernel.OpenFds(), 0)
      << "a listing not followed by an open is closed with the control";
}

// The Bus key may name any path: nothing that is not an i2c-dev character device is opened.
TEST(I2cDevBusKey, OnlyAnI2cDevCharacterDeviceIsOpened) {
  const std::tuple<unsigned, unsigned, const char*> cases[] = {
      {S_IFREG, 0, "it is a regular file"},
      {S_IFDIR, 0, "it is a directory"},
      {S_IFIFO, 0, "it is a FIFO"},
      {S_IFBLK, 8, "it is a block device"},
      {S_IFCHR, 1, "it is the character device of another driver (major 1)"},
  };
  for (const auto& [fileType, major, kind] : cases) {
    I2cDevRig rig;
    FakeKernel::Bus& passwd = rig.kernel.buses["/etc/passwd"];
    passwd.fileType = fileType;
    passwd.major = major;
    auto d = rig.Driver({"/etc/passwd", false});
    for (bool listing : {true, false}) {
      ClearI2cDevDiagnostics();
      EXPECT_EQ(listing ? List(*d) : std::to_string(d->OpenDevice("/etc/passwd")),
                listing ? "0:" : "-1");
      EXPECT_THAT(I2cDevDiagnostics(),
                  HasSubstr(std::string("Not opening /etc/passwd: ") + kind +
                            ", not an i2c-dev bus device. Bus= in section [Adapter]"));
    }
    EXPECT_TRUE(rig.kernel.openedPaths.empty()) << kind;
  }
}

TEST(I2cDevAbout, ShowsTheBusInUseTheBusesAndTheNotesFromAnyInstance) {
  I2cDevRig rig;
  rig.sysfs.AddUsbBus(7, "locked bridge");
  rig.kernel.AddBus(7).openErrno = EACCES;
  auto link = rig.Driver();
  List(*link);
  ASSERT_NE(link->OpenDevice(I2cDevRig::kUsbName), -1);
  RecordingSink sink;
  ScopedSink scope(&sink);
  auto mainWindowControl = rig.Driver();  // the second control, as on the main window
  mainWindowControl->ShowAboutBox();
  ASSERT_EQ(sink.messages.size(), 1u);
  for (const char* part : {"Bus in use: /dev/i2c-3 (CP2112 SMBus Bridge on hidraw0)",
                           "i2c-0 SMBus I801 adapter at efa0 (not USB)",
                           "i2c-3 CP2112 SMBus Bridge on hidraw0 (USB 10c4:ea90)",
                           "/dev/i2c-7 (locked bridge): permission denied",
                           "\r\n"})  // lines joined as every message is
    EXPECT_THAT(sink.messages[0], HasSubstr(part));
  EXPECT_EQ(rig.kernel.openedPaths.size(), 2u) << "the About box opens no bus";
  link->DeviceClose();
  mainWindowControl->ShowAboutBox();
  EXPECT_THAT(sink.messages.at(1), HasSubstr("Bus in use: none"));
}

TEST(I2cDevRealKernel, ErrorsComeBackAsNegativeErrno) {
  I2cDevKernel& k = RealI2cDevKernel();
  EXPECT_EQ(k.Open("/nonexistent/i2c-99"), -ENOENT);
  const int fd = k.Open("/dev/null");  // opens, but is no I2C bus: every ioctl fails with ENOTTY
  ASSERT_GE(fd, 0);
  unsigned long funcs = 12345;
  EXPECT_EQ(k.Functionality(fd, funcs), -ENOTTY);
  EXPECT_EQ(k.SetAddress(fd, 0x33, false), -ENOTTY);
  std::array<uint8_t, 40> big{};
  i2c_msg msg{0x33, I2C_M_RD, 2, big.data()};
  EXPECT_EQ(k.Transfer(fd, std::span<i2c_msg>(&msg, 1)), -ENOTTY);
  // Oversized blocks are refused before the kernel.
  EXPECT_EQ(k.SmbusWriteBlock(fd, 0, big), -EINVAL);
  EXPECT_EQ(k.SmbusReadI2cBlock(fd, 0, big), -EINVAL);
  EXPECT_EQ(k.SmbusWriteI2cBlock(fd, 0, big), -EINVAL);
  k.Close(fd);
}

}  // namespace

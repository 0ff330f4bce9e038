// Choosing the bus: sysfs enumeration, USB detection, the default list, the Bus key in every
// form, opening, and what the user is told when a bus cannot be used.
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>

#include "I2cDevRig.h"
#include "adapter/ErrorCodes.h"
#include "shell/Settings.h"
#include "support/RecordingSink.h"

namespace {

struct Listing {
  int32_t count = -1;
  std::string names;
};

Listing List(Zentio& z, int32_t limit = 16) {
  Listing l;
  z.ListFreeDevices(limit, l.count, l.names);
  return l;
}

TEST(I2cDevEnumeration, FindsEveryBusWithItsNameAndWhetherItIsUsb) {
  FakeSysfs sysfs;
  sysfs.AddUsbBus(12, "MCP2221 usb-i2c bridge", "04d8", "00dd");
  sysfs.AddPciBus(0, "SMBus I801 adapter at efa0");
  sysfs.AddUsbBus(3, "CP2112 SMBus Bridge on hidraw0");
  sysfs.AddBusWithParentFiles(5, "half a USB device", {"idVendor"});

  const auto buses = EnumerateI2cBuses(sysfs.Root());
  ASSERT_EQ(buses.size(), 4u);
  // By number, not by directory order.
  EXPECT_EQ(buses[0].number, 0);
  EXPECT_EQ(buses[0].name, "SMBus I801 adapter at efa0");
  EXPECT_FALSE(buses[0].usb);
  EXPECT_EQ(buses[1].number, 3);
  EXPECT_TRUE(buses[1].usb);
  EXPECT_EQ(buses[1].usbId, "10c4:ea90");
  EXPECT_EQ(buses[2].number, 5);
  EXPECT_FALSE(buses[2].usb) << "idVendor alone does not make a USB device";
  EXPECT_EQ(buses[3].number, 12);
  EXPECT_TRUE(buses[3].usb);
  EXPECT_EQ(buses[3].usbId, "04d8:00dd");
}

TEST(I2cDevEnumeration, MissingClassDirectoryIsReported) {
  FakeSysfs sysfs;
  sysfs.RemoveClassDir();
  std::string problem;
  EXPECT_TRUE(EnumerateI2cBuses(sysfs.Root(), &problem).empty());
  EXPECT_NE(problem.find("modprobe i2c-dev"), std::string::npos) << problem;
}

TEST(I2cDevEnumeration, ListedNamesCarryTheBusAndNeverAComma) {
  EXPECT_EQ(ListedBusName({3, "CP2112 SMBus Bridge on hidraw0", true, ""}),
            "i2c-3 CP2112 SMBus Bridge on hidraw0");
  EXPECT_EQ(ListedBusName({7, "", true, ""}), "i2c-7");
  const std::string odd = ListedBusName({4, "U2C, serial 12,34\tx", true, ""});
  EXPECT_EQ(odd.find(','), std::string::npos) << odd;
  EXPECT_EQ(odd.find('\t'), std::string::npos) << odd;
}

TEST(I2cDevListing, DefaultListsOnlyUsbBusesThatOpenAndNeverTouchesTheMotherboardBus) {
  I2cDevRig rig;
  rig.sysfs.AddUsbBus(7, "i2c-tiny-usb at bus 001 device 005", "0403", "c631");
  rig.kernel.AddBus(7);
  auto d = rig.Driver();
  const Listing l = List(*d);
  EXPECT_EQ(l.count, 2);
  EXPECT_EQ(l.names,
            std::string(I2cDevRig::kUsbName) + ",i2c-7 i2c-tiny-usb at bus 001 device 005");
  for (const auto& p : rig.kernel.openedPaths) EXPECT_NE(p, "/dev/i2c-0");
  EXPECT_EQ(rig.kernel.OpenFds(), 0) << "listing leaves no bus open";
}

TEST(I2cDevListing, LimitCapsTheList) {
  I2cDevRig rig;
  rig.sysfs.AddUsbBus(7, "second bridge");
  rig.kernel.AddBus(7);
  auto d = rig.Driver();
  EXPECT_EQ(List(*d, 1).count, 1);
  EXPECT_EQ(List(*d, 1).names, I2cDevRig::kUsbName);
  EXPECT_EQ(List(*d, 0).count, 0);
}

TEST(I2cDevListing, BusThatCannotBeOpenedIsLeftOutAndExplained) {
  struct Case {
    int error;
    const char* expected;
  };
  for (const Case& c :
       {Case{EACCES, "i2c group"}, Case{EACCES, "udev rule"}, Case{EPERM, "i2c group"},
        Case{EBUSY, "busy"}, Case{ENODEV, "no such device"}}) {
    I2cDevRig rig;
    rig.UsbBus().openErrno = c.error;
    auto d = rig.Driver();
    const Listing l = List(*d);
    EXPECT_EQ(l.count, 0);
    const std::string diag = I2cDevDiagnostics();
    EXPECT_NE(diag.find("/dev/i2c-3 (CP2112 SMBus Bridge on hidraw0)"), std::string::npos) << diag;
    EXPECT_NE(diag.find(c.expected), std::string::npos) << c.error << ": " << diag;
  }
}

TEST(I2cDevListing, FailingFunctionalityQueryLeavesTheBusOutAndClosesIt) {
  I2cDevRig rig;
  rig.UsbBus().funcsErrno = EIO;
  auto d = rig.Driver();
  EXPECT_EQ(List(*d).count, 0);
  EXPECT_EQ(rig.kernel.OpenFds(), 0);
  EXPECT_NE(I2cDevDiagnostics().find("functionality query failed"), std::string::npos);
}

TEST(I2cDevListing, NoUsbBusSaysWhichBusesWereSeenAndHowToChooseOne) {
  FakeSysfs sysfs;
  sysfs.AddPciBus(0, "SMBus I801 adapter at efa0");
  FakeKernel kernel(sysfs.Root());
  kernel.AddBus(0);
  ClearI2cDevDiagnostics();
  I2cDevDriver d(kernel, {});
  EXPECT_EQ(List(d).count, 0);
  EXPECT_TRUE(kernel.openedPaths.empty());
  const std::string diag = I2cDevDiagnostics();
  EXPECT_NE(diag.find("No USB-attached I2C bus"), std::string::npos) << diag;
  EXPECT_NE(diag.find("i2c-0 SMBus I801 adapter at efa0 (not USB)"), std::string::npos) << diag;
  EXPECT_NE(diag.find("Bus="), std::string::npos) << diag;
}

TEST(I2cDevListing, EachListingRenewsTheNotes) {
  I2cDevRig rig;
  rig.UsbBus().openErrno = EACCES;
  auto d = rig.Driver();
  List(*d);
  EXPECT_FALSE(I2cDevDiagnostics().empty());
  rig.UsbBus().openErrno = 0;
  EXPECT_EQ(List(*d).count, 1);
  EXPECT_EQ(I2cDevDiagnostics(), "");
}

// The Bus key names one bus, USB or not, in any of its forms.
TEST(I2cDevBusKey, EveryFormNamesTheMotherboardBus) {
  for (const char* form :
       {"/dev/i2c-0", "0", "i2c-0", "I2C-0", "i2c-0 SMBus I801 adapter at efa0",
        "SMBus I801 adapter at efa0", "smbus i801 ADAPTER at efa0", "SMBus I801"}) {
    I2cDevRig rig;
    auto d = rig.Driver({form, false});
    const Listing l = List(*d);
    EXPECT_EQ(l.count, 1) << form;
    EXPECT_EQ(l.names, "i2c-0 SMBus I801 adapter at efa0") << form;
    rig.kernel.openedPaths.clear();
    EXPECT_NE(d->OpenDevice(l.names), -1) << form;
    ASSERT_EQ(rig.kernel.openedPaths.size(), 1u) << form;
    EXPECT_EQ(rig.kernel.openedPaths[0], "/dev/i2c-0") << form;
  }
}

TEST(I2cDevBusKey, ANameThatMatchesSeveralBridgesListsThemAll) {
  I2cDevRig rig;
  rig.sysfs.AddUsbBus(8, "CP2112 SMBus Bridge on hidraw4");
  rig.kernel.AddBus(8);
  auto d = rig.Driver({"CP2112", false});
  const Listing l = List(*d);
  EXPECT_EQ(l.count, 2);
  EXPECT_EQ(l.names, std::string(I2cDevRig::kUsbName) + ",i2c-8 CP2112 SMBus Bridge on hidraw4");
}

TEST(I2cDevBusKey, AnExactNameWinsOverLongerNamesItBegins) {
  I2cDevRig rig;
  rig.sysfs.AddUsbBus(8, "CP2112 SMBus Bridge on hidraw0 (second)");
  rig.kernel.AddBus(8);
  auto d = rig.Driver({"CP2112 SMBus Bridge on hidraw0", false});
  EXPECT_EQ(List(*d).names, I2cDevRig::kUsbName);
}

TEST(I2cDevBusKey, APathOutsideSysfsIsListedUnderItsOwnName) {
  I2cDevRig rig;
  rig.kernel.buses["/dev/i2c-charger"];  // a udev symlink
  auto d = rig.Driver({"/dev/i2c-charger", false});
  const Listing l = List(*d);
  EXPECT_EQ(l.count, 1);
  EXPECT_EQ(l.names, "/dev/i2c-charger");
  rig.kernel.openedPaths.clear();
  EXPECT_NE(d->OpenDevice(l.names), -1);
  EXPECT_EQ(rig.kernel.openedPaths.at(0), "/dev/i2c-charger");
}

TEST(I2cDevBusKey, AnUnknownBusListsNothingAndSaysWhy) {
  for (const char* form : {"9", "i2c-9", "/dev/i2c-9", "No Such Bridge", "99999999999999"}) {
    I2cDevRig rig;
    auto d = rig.Driver({form, false});
    EXPECT_EQ(List(*d).count, 0) << form;
    EXPECT_FALSE(I2cDevDiagnostics().empty()) << form;
  }
}

TEST(I2cDevBusKey, SettingsKeysAreRead) {
  FakeSysfs dir;  // any scratch directory will do
  const std::string ini = dir.Root() + "/korvo.ini";
  std::ofstream(ini) << "[Adapter]\nDriver=i2cdev\nBus= /dev/i2c-3 \nForceAddress=1\n";
  Settings::SetFile(ini);
  const I2cDevOptions o = I2cDevOptionsFromSettings();
  EXPECT_EQ(o.bus, "/dev/i2c-3");
  EXPECT_TRUE(o.forceAddress);
  std::ofstream(ini, std::ios::trunc) << "[Adapter]\nDriver=i2cdev\n";
  const I2cDevOptions none = I2cDevOptionsFromSettings();
  EXPECT_EQ(none.bus, "");
  EXPECT_FALSE(none.forceAddress);
  Settings::SetFile("");
}

TEST(I2cDevOpen, OpensTheListedNameOrItsBusToken) {
  I2cDevRig rig;
  auto d = rig.Driver();
  EXPECT_NE(d->OpenDevice(I2cDevRig::kUsbName), -1);
  EXPECT_EQ(rig.kernel.OpenFds(), 1);
  EXPECT_NE(d->OpenDevice("i2c-3"), -1);
  EXPECT_EQ(rig.kernel.OpenFds(), 1) << "a second open replaces the first";
  d->DeviceClose();
  EXPECT_EQ(rig.kernel.OpenFds(), 0);
}

TEST(I2cDevOpen, RefusesNamesItDoesNotList) {
  I2cDevRig rig;
  auto d = rig.Driver();
  EXPECT_EQ(d->OpenDevice("dummy"), -1);
  EXPECT_EQ(d->OpenDevice(""), -1);
  // The motherboard bus is not opened by name unless the Bus key names it.
  EXPECT_EQ(d->OpenDevice("i2c-0 SMBus I801 adapter at efa0"), -1);
  for (const auto& p : rig.kernel.openedPaths) EXPECT_NE(p, "/dev/i2c-0");
  EXPECT_NE(I2cDevDiagnostics().find("Bus="), std::string::npos);
}

TEST(I2cDevOpen, FailureIsExplained) {
  I2cDevRig rig;
  auto d = rig.Driver();
  rig.UsbBus().openErrno = EACCES;
  EXPECT_EQ(d->OpenDevice(I2cDevRig::kUsbName), -1);
  EXPECT_NE(I2cDevDiagnostics().find("i2c group"), std::string::npos);
  EXPECT_EQ(d->QueryError(), VB_NO_USB);
}

TEST(I2cDevOpen, ListingWhileOpenStillListsTheBusInUse) {
  I2cDevRig rig;
  auto d = rig.Opened();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(List(*d).names, I2cDevRig::kUsbName);
  EXPECT_EQ(rig.kernel.OpenFds(), 1);
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
  const std::string& text = sink.messages[0];
  EXPECT_NE(text.find("Bus in use: /dev/i2c-3 (CP2112 SMBus Bridge on hidraw0)"), std::string::npos)
      << text;
  EXPECT_NE(text.find("i2c-0 SMBus I801 adapter at efa0 (not USB)"), std::string::npos) << text;
  EXPECT_NE(text.find("i2c-3 CP2112 SMBus Bridge on hidraw0 (USB 10c4:ea90)"), std::string::npos)
      << text;
  EXPECT_NE(text.find("/dev/i2c-7 (locked bridge): permission denied"), std::string::npos) << text;
  EXPECT_NE(text.find("\r\n"), std::string::npos) << "lines joined as every message is";
  EXPECT_EQ(rig.kernel.openedPaths.size(), 3u) << "the About box opens no bus";

  link->DeviceClose();
  mainWindowControl->ShowAboutBox();
  EXPECT_NE(sink.messages.at(1).find("Bus in use: none"), std::string::npos);
}

}  // namespace

#include <gtest/gtest.h>

#include "foundation/IniFile.h"
#include "instruments/Instrument.h"
#include "instruments/InstrumentSpec.h"

using namespace instruments;

TEST(InstrumentSpec, DriverAndOptionsInOrder) {
  const SpecResult r = ParseInstrument("scpi-dmm:conn=/dev/ttyUSB0:serialcomm=9600/8n1");
  ASSERT_TRUE(r.spec) << r.error;
  EXPECT_EQ(r.spec->driver, "scpi-dmm");
  ASSERT_EQ(r.spec->options.size(), 2u);
  EXPECT_EQ(r.spec->options[0], (std::pair<std::string, std::string>{"conn", "/dev/ttyUSB0"}));
  EXPECT_EQ(r.spec->options[1], (std::pair<std::string, std::string>{"serialcomm", "9600/8n1"}));
  EXPECT_EQ(r.spec->text, "scpi-dmm:conn=/dev/ttyUSB0:serialcomm=9600/8n1");
}

TEST(InstrumentSpec, LabelDefaultsToTheDriver) {
  EXPECT_EQ(ParseInstrument("demo").spec->label, "demo");
  EXPECT_EQ(ParseInstrument("demo", "Gen").spec->label, "Gen");
  EXPECT_EQ(ParseInstrument("demo label=Mine", "Gen").spec->label, "Mine");
}

TEST(InstrumentSpec, ChannelSelectionIsKept) {
  const SpecResult r = ParseInstrument("  scpi-pps:conn=tcp-raw/h/5555 channels=V1,I1 label=PSU ");
  ASSERT_TRUE(r.spec) << r.error;
  EXPECT_EQ(r.spec->channels, (std::vector<std::string>{"V1", "I1"}));
  EXPECT_EQ(r.spec->label, "PSU");
}

struct BadSpec {
  const char* entry;
  const char* reason;
};

class BadSpecs : public ::testing::TestWithParam<BadSpec> {};

TEST_P(BadSpecs, RefusedWithEntryAndReason) {
  const SpecResult r = ParseInstrument(GetParam().entry);
  EXPECT_FALSE(r.spec);
  EXPECT_NE(r.error.find("invalid instrument '"), std::string::npos) << r.error;
  EXPECT_NE(r.error.find(GetParam().reason), std::string::npos) << r.error;
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadSpecs,
    ::testing::Values(BadSpec{"", "empty"}, BadSpec{":conn=x", "no driver"},
                      BadSpec{"Demo", "driver name 'Demo'"},
                      BadSpec{"demo:", "empty option"}, BadSpec{"demo::conn=x", "empty option"},
                      BadSpec{"demo:conn", "has no '='"}, BadSpec{"demo:=x", "no key"},
                      BadSpec{"demo:Conn=x", "option key 'Conn'"},
                      BadSpec{"demo:conn=", "has no value"},
                      BadSpec{"demo:conn=a:conn=b", "given twice"},
                      BadSpec{"demo extra", "unexpected 'extra'"},
                      BadSpec{"demo label=", "label= is empty"},
                      BadSpec{"demo label=a label=b", "label= is given twice"},
                      BadSpec{"demo channels=", "names no channel"},
                      BadSpec{"demo channels=A0,,A1", "empty channel name"},
                      BadSpec{"demo channels=A0,A0", "selected twice"},
                      BadSpec{"demo\x01", "control characters"}));

TEST(InstrumentSettings, OneKeyPerInstrumentKeyIsLabel) {
  const IniFile ini = IniFile::Parse(
      "[Instruments]\nPSU=scpi-pps:conn=tcp-raw/127.0.0.1/5555 channels=V1,I1\nGen=demo\n");
  const InstrumentList list = InstrumentsFromIni(ini);
  ASSERT_TRUE(list.errors.empty());
  ASSERT_EQ(list.specs.size(), 2u);
  EXPECT_EQ(list.specs[0].label, "PSU");
  EXPECT_EQ(list.specs[0].channels, (std::vector<std::string>{"V1", "I1"}));
  EXPECT_EQ(list.specs[1].label, "Gen");
}

TEST(InstrumentSettings, BadEntryNamesSectionAndKey) {
  const InstrumentList list = InstrumentsFromIni(IniFile::Parse("[Instruments]\nPSU=scpi-pps:conn\n"));
  ASSERT_EQ(list.errors.size(), 1u);
  EXPECT_EQ(list.errors[0].rfind("[Instruments] PSU: invalid instrument 'scpi-pps:conn'", 0), 0u)
      << list.errors[0];
}

TEST(InstrumentSettings, RepeatedLabelsAreNumbered) {
  const InstrumentList list = InstrumentsFromArgs({"demo", "demo", "demo"});
  ASSERT_EQ(list.specs.size(), 3u);
  EXPECT_EQ(list.specs[1].label, "demo 2");
  EXPECT_EQ(list.specs[2].label, "demo 3");
}

struct UnitCase {
  const char* si;
  double value;
  const char* unit;
  double korvo;
};

class Units : public ::testing::TestWithParam<UnitCase> {};

TEST_P(Units, VoltsAndAmperesBecomeMilli) {
  const KorvoValue k = ToKorvoUnits(GetParam().si, GetParam().value);
  EXPECT_EQ(k.unit, GetParam().unit);
  EXPECT_DOUBLE_EQ(k.value, GetParam().korvo);
}

INSTANTIATE_TEST_SUITE_P(Table, Units,
                         ::testing::Values(UnitCase{"V", 12.6, "mV", 12600}, UnitCase{"A", 2.048, "mA", 2048},
                                           UnitCase{"W", 31.1, "W", 31.1}, UnitCase{"Hz", 50, "Hz", 50}));

TEST(InstrumentCaption, NumberedOutputShownAsChannel) {
  EXPECT_EQ(Caption("PSU", ChannelInfo{"I1", "1", "", "", true}, "current"), "PSU CH1 current");
  EXPECT_EQ(Caption("PSU", ChannelInfo{"I1", "CH1", "", "", true}, "current"), "PSU CH1 current");
  EXPECT_EQ(Caption("Gen", ChannelInfo{"A0", "", "", "", true}, "voltage"), "Gen A0 voltage");
}

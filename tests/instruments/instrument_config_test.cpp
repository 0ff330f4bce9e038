#include <gtest/gtest.h>

#include "foundation/IniFile.h"
#include "instruments/Instrument.h"
#include "instruments/InstrumentConfig.h"

using namespace instruments;

TEST(InstrumentConfig, DriverAndOptionsInOrder) {
  const ConfigResult r = ParseInstrument("scpi-dmm:conn=/dev/ttyUSB0:serialcomm=9600/8n1");
  ASSERT_TRUE(r.config) << r.error;
  EXPECT_EQ(r.config->driver, "scpi-dmm");
  ASSERT_EQ(r.config->options.size(), 2u);
  EXPECT_EQ(r.config->options[0], (std::pair<std::string, std::string>{"conn", "/dev/ttyUSB0"}));
  EXPECT_EQ(r.config->options[1], (std::pair<std::string, std::string>{"serialcomm", "9600/8n1"}));
  EXPECT_EQ(r.config->text, "scpi-dmm:conn=/dev/ttyUSB0:serialcomm=9600/8n1");
}

TEST(InstrumentConfig, LabelDefaultsToTheDriver) {
  EXPECT_EQ(ParseInstrument("demo").config->label, "demo");
  EXPECT_EQ(ParseInstrument("demo", "Gen").config->label, "Gen");
  EXPECT_EQ(ParseInstrument("demo label=Mine", "Gen").config->label, "Mine");
}

TEST(InstrumentConfig, ChannelSelectionIsKept) {
  const ConfigResult r =
      ParseInstrument("  scpi-pps:conn=tcp-raw/h/5555 channels=V1,I1 label=PSU ");
  ASSERT_TRUE(r.config) << r.error;
  EXPECT_EQ(r.config->channels, (std::vector<std::string>{"V1", "I1"}));
  EXPECT_EQ(r.config->label, "PSU");
}

struct BadConfig {
  const char* entry;
  const char* reason;
};

class BadConfigs : public ::testing::TestWithParam<BadConfig> {};

TEST_P(BadConfigs, RefusedWithEntryAndReason) {
  const ConfigResult r = ParseInstrument(GetParam().entry);
  EXPECT_FALSE(r.config);
  EXPECT_NE(r.error.find("invalid instrument '"), std::string::npos) << r.error;
  EXPECT_NE(r.error.find(GetParam().reason), std::string::npos) << r.error;
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadConfigs,
    ::testing::Values(
        BadConfig{"", "empty"}, BadConfig{":conn=x", "no driver"},
        BadConfig{"Demo", "driver name 'Demo'"}, BadConfig{"demo:", "empty option"},
        BadConfig{"demo::conn=x", "empty option"}, BadConfig{"demo:conn", "has no '='"},
        BadConfig{"demo:=x", "no key"}, BadConfig{"demo:Conn=x", "option key 'Conn'"},
        BadConfig{"demo:conn=", "has no value"}, BadConfig{"demo:conn=a:conn=b", "given twice"},
        BadConfig{"demo extra", "unexpected 'extra'"}, BadConfig{"demo label=", "label= is empty"},
        BadConfig{"demo label=a label=b", "label= is given twice"},
        BadConfig{"demo channels=", "names no channel"},
        BadConfig{"demo channels=A0,,A1", "empty channel name"},
        BadConfig{"demo channels=A0,A0", "selected twice"},
        BadConfig{"demo\x01", "control characters"}));

TEST(InstrumentSettings, OneKeyPerInstrumentKeyIsLabel) {
  const IniFile ini = IniFile::Parse(
      "[Instruments]\nPSU=scpi-pps:conn=tcp-raw/127.0.0.1/5555 channels=V1,I1\nGen=demo\n");
  const InstrumentList list = InstrumentsFromIni(ini);
  ASSERT_TRUE(list.errors.empty());
  ASSERT_EQ(list.configs.size(), 2u);
  EXPECT_EQ(list.configs[0].label, "PSU");
  EXPECT_EQ(list.configs[0].channels, (std::vector<std::string>{"V1", "I1"}));
  EXPECT_EQ(list.configs[1].label, "Gen");
}

TEST(InstrumentSettings, BadEntryNamesSectionAndKey) {
  const InstrumentList list =
      InstrumentsFromIni(IniFile::Parse("[Instruments]\nPSU=scpi-pps:conn\n"));
  ASSERT_EQ(list.errors.size(), 1u);
  EXPECT_EQ(list.errors[0].rfind("[Instruments] PSU: invalid instrument 'scpi-pps:conn'", 0), 0u)
      << list.errors[0];
}

TEST(InstrumentSettings, RepeatedLabelsAreNumbered) {
  const InstrumentList list = InstrumentsFromArgs({"demo", "demo", "demo"});
  ASSERT_EQ(list.configs.size(), 3u);
  EXPECT_EQ(list.configs[1].label, "demo 2");
  EXPECT_EQ(list.configs[2].label, "demo 3");
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
                         ::testing::Values(UnitCase{"V", 12.6, "mV", 12600},
                                           UnitCase{"A", 2.048, "mA", 2048},
                                           UnitCase{"W", 31.1, "W", 31.1},
                                           UnitCase{"Hz", 50, "Hz", 50}));

TEST(InstrumentCaption, NumberedOutputShownAsChannel) {
  EXPECT_EQ(Caption("PSU", ChannelInfo{"I1", "1", "", "", true}, "current"), "PSU CH1 current");
  EXPECT_EQ(Caption("PSU", ChannelInfo{"I1", "CH1", "", "", true}, "current"), "PSU CH1 current");
  EXPECT_EQ(Caption("Gen", ChannelInfo{"A0", "", "", "", true}, "voltage"), "Gen A0 voltage");
}

#include <gtest/gtest.h>
#include <unistd.h>

#include "adapter/frmUSB.h"
#include "drivers/Drivers.h"
#include "drivers/sim/SimBoard.h"
#include "drivers/sim/SimDriver.h"
#include "recording/Snapshot.h"
#include "registers/RegisterAccess.h"
#include "foundation/IniFile.h"
#include "foundation/Settings.h"
#include "foundation/Text.h"
#include "support/ManualClock.h"
#include "support/RecordingSink.h"
#include "support/TempDir.h"

namespace {

using recording::Snapshot;

Snapshot Sample() {
  Snapshot s;
  const uint16_t values[] = {0x4A52, 0x8C63, 0x0040, 0x8080, 0x0000, 0x41A0,
                             0x0E10, 0x0201, 0x0000, 0x0C84, 0x1000};
  for (std::size_t i = 0; i < 11; ++i) s.values[i] = values[i];
  s.description = "Board 7";
  s.time = "2024-05-01T10:00:00.000+00:00";
  s.deviceAddress = 0x67;
  s.version = "2.0.10";
  return s;
}

TEST(SnapshotTest, TheFileIsASpinPresetSection) {
  Snapshot s = Sample();
  s.caption = "rk51xx Trim3";
  const IniFile ini = IniFile::Parse(recording::FormatSnapshot(s));
  EXPECT_EQ(ini.Sections(), std::vector<std::string>{"Spinrk51xx Trim3"});
  // The keys a preset writes, in write order; 0x13, 0x17 and 0x19 only as comments.
  EXPECT_EQ(ini.Keys("Spinrk51xx Trim3"),
            (std::vector<std::string>{"Desc", "0x10", "0x11", "0x12", "0x14", "0x15", "0x16",
                                      "0x18", "0x3F"}));
  EXPECT_EQ(ini.Value("Spinrk51xx Trim3", "0x15"), "41A0");
}

TEST(SnapshotTest, ABadFileIsRefusedWithItsLine) {
  const std::string good = recording::FormatSnapshot(Sample());
  auto replace = [&](const std::string& from, const std::string& to) {
    std::string t = good;
    t.replace(t.find(from), from.size(), to);
    return t;
  };
  struct Case {
    std::string text;
    int line;
    std::string reason;
  } cases[] = {
      {"", 0, "empty file"},
      {good.substr(0, good.size() - 1), 19, "truncated: the last line has no end"},
      {replace("0x11=8C63", std::string("0x11=8C\0\x01", 9)), 6, "not text (binary data)"},
      {replace("0x11=8C63", "0x11=0x8C63"), 6, "0x11 is not 1 to 4 hex digits"},
      {replace("0x11=8C63", "0x13=8C63"), 6, "0x13 is never written"},
      {replace("[SpinCustom 1]", "[Colors]"), 3, "is not a spin section"},
  };
  for (const auto& c : cases) {
    recording::SnapshotError error;
    EXPECT_FALSE(recording::ParseSnapshot(c.text, error)) << c.reason;
    EXPECT_EQ(error.line, c.line) << c.reason;
    EXPECT_NE(error.reason.find(c.reason), std::string::npos) << error.reason;
  }
}

// Every bit of every register a preset writes is compared, and named by its number.
TEST(SnapshotCompare, EveryBitOfEveryPresetRegisterIsFound) {
  const uint8_t compared[] = {0x10, 0x11, 0x12, 0x14, 0x15, 0x16, 0x18, 0x3F};
  for (uint8_t reg : compared) {
    for (int bit = 0; bit < 16; ++bit) {
      SCOPED_TRACE(Text::Byte(reg) + " bit " + std::to_string(bit));
      const Snapshot reference = Sample();
      Snapshot other = Sample();
      const uint16_t was = *reference.Value(reg);
      other.SetValue(reg, static_cast<uint16_t>(was ^ (1u << bit)));
      const auto changes = recording::CompareSnapshots(reference, other);
      ASSERT_EQ(changes.size(), 1u);
      EXPECT_EQ(changes[0].address, reg);
      ASSERT_EQ(changes[0].bits.size(), 1u);
      EXPECT_EQ(changes[0].bits[0].bit, bit);
      EXPECT_EQ(changes[0].bits[0].from, ((was >> bit) & 1) != 0);
    }
  }
}

TEST(SnapshotTest, AByteOrderMarkAndAnyLineEndAreTaken) {
  const std::string good = recording::FormatSnapshot(Sample());
  auto ends = [&](const std::string& end) {
    std::string t;
    for (char c : good) t += c == '\n' ? end : std::string(1, c);
    return t;
  };
  const std::string cases[] = {"\xEF\xBB\xBF" + good, ends("\r\n"), ends("\r"),
                               "\xEF\xBB\xBF" + ends("\r")};
  for (const std::string& text : cases) {
    recording::SnapshotError error;
    const std::optional<Snapshot> s = recording::ParseSnapshot(text, error);
    ASSERT_TRUE(s) << error.line << ": " << error.reason;
    EXPECT_EQ(s->values, Sample().values);
    EXPECT_EQ(s->description, "Board 7");
  }
}

TEST(SnapshotTest, ALongTokenIsShownByItsFirstFortyCharacters) {
  const std::string good = recording::FormatSnapshot(Sample());
  const std::string key(10 << 20, 'K');
  const std::string section = "[Spin" + std::string(100, 'S') + "]";
  const std::pair<std::string, std::string> cases[] = {
      {std::string(good).insert(good.find("0x10="), key + "=1\n"),
       "unknown key '" + std::string(40, 'K') + "...'"},
      {std::string(good).replace(good.find("[SpinCustom 1]"), 14, section),
       "section [Spin" + std::string(36, 'S') + "...] is not a spin section"},
  };
  for (const auto& [text, expected] : cases) {
    recording::SnapshotError error;
    EXPECT_FALSE(recording::ParseSnapshot(text, error));
    EXPECT_EQ(error.reason.rfind(expected, 0), 0u) << error.reason.substr(0, 200);
    EXPECT_LT(error.reason.size(), 200u);
  }
}

TEST(SnapshotFileTest, AFileOverOneMegabyteHasItsOwnMessage) {
  TempDir dir;
  const std::string big = dir.Write("big.ini", "");
  ASSERT_EQ(::truncate(big.c_str(), 89 << 20), 0);  // sparse: nothing to write
  const std::pair<std::string, std::string> cases[] = {
      {big, big + ": larger than 1 MB, too large for a snapshot"},
      {dir.File("gone.ini"),
       dir.File("gone.ini") + ": cannot be read (missing, or not a plain file)"},
      {dir.Path(), dir.Path() + ": cannot be read (missing, or not a plain file)"},
  };
  for (const auto& [path, expected] : cases) {
    std::string message;
    EXPECT_FALSE(recording::LoadSnapshot(path, message));
    EXPECT_EQ(message, expected);
  }
}

class SnapshotOnBoardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings::ResetToDefaults();
    Settings::SetFile(dir_.Write("none.ini", ""));
    board_ = std::make_shared<sim::Board>();
    frmUSB::SetControlFactory([this] { return std::make_unique<sim::Adapter>(board_); });
    frmUSB::Get().OpenFirstFreeDevice();
  }
  void TearDown() override {
    frmUSB::Get().CloseDevice();
    frmUSB::SetControlFactory(&CreateSelectedControl);
    Settings::SetFile("");
    Settings::ResetToDefaults();
  }
  std::vector<std::string> Traffic() const {
    std::vector<std::string> t;
    for (const sim::Transaction& x : board_->History())
      t.push_back(std::string(x.kind == sim::Transaction::Kind::Read ? "R" : "W") +
                  Text::Hex(x.command) +
                  (x.kind == sim::Transaction::Kind::Write ? "=" + Text::Hex(x.value) : ""));
    return t;
  }

  TempDir dir_;
  std::shared_ptr<sim::Board> board_;
  RecordingSink sink_;
  ScopedSink scope_{&sink_};
  RegisterAccess regs_;
  ManualClock clock_;
};

TEST_F(SnapshotOnBoardTest, ReadingTakesTheElevenRowsInOrder) {
  const Snapshot s = recording::ReadSnapshot(regs_, 0x67, "", recording::Variant::rk5191, clock_);
  EXPECT_EQ(Traffic(), (std::vector<std::string>{"R10", "R11", "R12", "R13", "R14", "R15", "R16",
                                                 "R17", "R18", "R19", "R3F"}));
  EXPECT_TRUE(s.Complete());
  EXPECT_EQ(s.Value(0x15), 16800);
  EXPECT_EQ(s.variant, recording::Variant::rk5191);
}

TEST_F(SnapshotOnBoardTest, RestoreWritesAsASpinDoes) {
  Snapshot s = Sample();
  s.SetValue(0x10, 0x1234);
  Spins::SpinProgrammer writer(regs_);
  const Spins::SpinReport r = recording::RestoreSnapshot(writer, s);
  EXPECT_TRUE(r.Clean());
  EXPECT_EQ(sink_.messages, std::vector<std::string>{std::string(Spins::kSpinConfirmText)});
  EXPECT_EQ(Traffic(),
            (std::vector<std::string>{"W17=201", "W10=1234", "R10", "W11=8C63", "R11", "W12=40",
                                      "R12", "W14=0", "R14", "W15=41A0", "R15", "W16=E10", "R16",
                                      "W18=0", "R18", "W3F=1000", "R3F"}));
}

}  // namespace

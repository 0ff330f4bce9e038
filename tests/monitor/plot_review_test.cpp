// The plot an engineer reads and measures on: the readout, cursors, lanes and their choice,
// events, instruments beside the set points, and recordings opened for review.
#include <gtest/gtest.h>

#include <QImage>
#include <QLineSeries>

#include "adapter/ErrorCodes.h"
#include "instruments/SrRecorder.h"
#include "monitor/PlotFixture.h"
#include "panels/frmSpins.h"
#include "recording/Recorder.h"

namespace {

using monitor::BitTimeline;
using monitor::frmPlot;
using namespace std::chrono;

class PlotReviewTest : public PlotFixture {
 protected:
  // A control register value with every named bit flipped: an edge in every control lane.
  uint16_t Flipped(uint16_t v) {
    uint16_t mask = 0;
    for (const BitTimeline::Lane& l : BitTimeline::NamedBits(recording::Variant::rk5190))
      if (l.address == RegisterTable::kControl) mask |= static_cast<uint16_t>(1u << l.bit);
    return static_cast<uint16_t>(v ^ mask);
  }
  // The plot paused over reads at 1 s and at `seconds`.
  frmPlot* PausedOver(double seconds) {
    frmPlot* plot = OpenPlot();
    ReadAllAt(1);
    ReadAllAt(seconds);
    plot->SetPaused(true);
    plot->Refresh();
    return plot;
  }
  // Opens `path` for review with the plot's Open...
  void OpenFile(frmPlot* plot, const QString& path) {
    sink.Clear();
    dialogs.answer = path;
    plot->findChild<QPushButton*>(QStringLiteral("cmdOpen"))->click();
  }
  // Loads the monitored main window and records its register access to `name`.
  std::unique_ptr<recording::Recorder> StartRecorder(const char* name,
                                                     recording::RecorderOptions options) {
    LoadMonitored("", "", &clock);
    options.clock = &clock;
    std::string message;
    auto recorder = recording::Recorder::Open(TempPath(name).toStdString(), options, message);
    EXPECT_TRUE(recorder) << message;
    if (recorder) window->Registers().AddObserver(*recorder);
    return recorder;
  }
};

TEST_F(PlotReviewTest, ReadoutAtAKnownTimeShowsEveryLanesValue) {
  frmPlot* plot = OpenPlot();
  ReadAllAt(1);
  Measure(1.5, 2031);
  ReadAllAt(4);
  plot->Refresh();
  Hover(plot, 3);
  const QString readout = Text(plot, "lblReadout");
  const uint16_t status = Board().Peek(RegisterTable::kStatus);
  for (const QString& part :
       {QStringLiteral("voltage 16800 mV"), QStringLiteral("PSU CH1 current 2031.0 mA"),
        QStringLiteral("ACDET %1").arg((status >> 15) & 1), QStringLiteral("(3.0")})
    EXPECT_TRUE(readout.contains(part)) << readout.toStdString() << " lacks " << part.toStdString();
}

TEST_F(PlotReviewTest, AMeasurementIsSolidInItsSetPointsHueTheSetPointDashed) {
  frmPlot* plot = OpenPlot();
  ReadAllAt(1);
  Measure(1, 2031);
  Measure(2, 0);
  plot->Refresh();
  QLineSeries* setPoint = nullptr;
  QLineSeries* measured = nullptr;
  for (QAbstractSeries* s : ChartOf(plot)->series()) {
    if (s->name() == QLatin1String("Charge current (mA)") && !setPoint) setPoint = static_cast<QLineSeries*>(s);
    if (s->name() == QLatin1String("PSU CH1 current (mA)") && !measured) measured = static_cast<QLineSeries*>(s);
  }
  ASSERT_TRUE(setPoint && measured);
  EXPECT_EQ(setPoint->pen().style(), Qt::DashLine);
  EXPECT_EQ(measured->pen().style(), Qt::SolidLine);
  EXPECT_EQ(measured->pen().color(), setPoint->pen().color());
  EXPECT_EQ(measured->attachedAxes(), setPoint->attachedAxes());
  const auto runs = plot->DrawnRuns(QStringLiteral("PSU CH1 current"));
  ASSERT_EQ(runs.size(), 1u);
  ASSERT_EQ(runs[0].size(), 2u);
  EXPECT_EQ(runs[0][0].v, 2031);
}

TEST_F(PlotReviewTest, TwoCursorsSnapToTheEdgesAndGiveDeltaT) {
  frmPlot* plot = OpenPlot();
  ReadAllAt(1);
  const uint16_t control = Board().Peek(RegisterTable::kControl);
  Board().Poke(RegisterTable::kControl, Flipped(control));
  ReadAllAt(2);
  Board().Poke(RegisterTable::kControl, control);
  ReadAllAt(7);
  ReadAllAt(9);
  plot->SetPaused(true);
  plot->Refresh();
  // A few pixels off each edge: the cursors snap to them.
  ClickAt(plot, PointAt(plot, 2) + QPointF(3, 0));
  ClickAt(plot, PointAt(plot, 7) - QPointF(3, 0));
  const std::vector<double> cursors = plot->Cursors();
  ASSERT_EQ(cursors.size(), 2u);
  EXPECT_NEAR(cursors[0], 2.0, 1e-6);
  EXPECT_NEAR(cursors[1], 7.0, 1e-6);
  EXPECT_TRUE(Text(plot, "lblCursors").contains(QString::fromUtf8("\u0394t 5.000 s")))
      << Text(plot, "lblCursors").toStdString();
}

TEST_F(PlotReviewTest, DraggingACursorMovesItAndLeavesTheRange) {
  frmPlot* plot = PausedOver(30);
  const double end = plot->ViewEnd();
  ClickAt(plot, PointAt(plot, 10));
  ASSERT_EQ(plot->Cursors().size(), 1u);
  Drag(plot, PointAt(plot, plot->Cursors()[0]), PointAt(plot, 20));
  ASSERT_EQ(plot->Cursors().size(), 1u);
  EXPECT_NEAR(plot->Cursors()[0], 20, 0.2);
  EXPECT_EQ(plot->ViewEnd(), end);
}

TEST_F(PlotReviewTest, LaneChoicePersistsInTheConfigurationFolder) {
  frmPlot* plot = OpenPlot();
  Choose(plot, QStringLiteral("bit:0x13.15"), false);  // ACDET
  Choose(plot, QStringLiteral("value:0x15"), true);
  delete plot;
  const QByteArray ini = ReadFile(TempPath("korvo.ini"));
  plot = OpenPlot();
  const std::vector<QString> names = LaneNames(plot);
  EXPECT_EQ(std::count(names.begin(), names.end(), QStringLiteral("ACDET")), 0);
  EXPECT_EQ(std::count(names.begin(), names.end(), QStringLiteral("0x15")), 1);
  EXPECT_TRUE(QFile::exists(userConfig.filePath(QStringLiteral("Korvo/plot.ini"))));
  EXPECT_EQ(ReadFile(TempPath("korvo.ini")), ini);  // the settings file is never written
}

TEST_F(PlotReviewTest, LanesThatNeverChangedCanBeHidden) {
  frmPlot* plot = OpenPlot();
  ReadAllAt(1);
  const uint16_t control = Board().Peek(RegisterTable::kControl);
  Board().Poke(RegisterTable::kControl, Flipped(control));
  ReadAllAt(2);
  Choose(plot, QStringLiteral("hideUnchanged"), true);
  for (const BitTimeline::Lane& l : plot->Timeline()->Lanes())
    EXPECT_EQ(l.address, RegisterTable::kControl) << l.name.toStdString();
  EXPECT_FALSE(plot->Timeline()->Lanes().empty());
}

TEST_F(PlotReviewTest, ARegisterShownAsAValueReadsInHexOrDecimal) {
  frmPlot* plot = OpenPlot();
  ReadAllAt(1);
  ReadAllAt(2);
  Choose(plot, QStringLiteral("value:0x15"), true);
  EXPECT_TRUE(plot->ReadoutAt(1.5).contains(QLatin1String("0x15 0x41A0"))) << plot->ReadoutAt(1.5).toStdString();
  plot->findChild<QAction*>(QStringLiteral("lane:decimal"))->trigger();
  EXPECT_TRUE(plot->ReadoutAt(1.5).contains(QLatin1String("0x15 16800")));
}

TEST_F(PlotReviewTest, AnEventsTextShowsOnHover) {
  frmPlot* plot = PausedOver(20);
  plot->AddEvent(start + seconds(5), QStringLiteral("PSU absent: no answer"));
  plot->Refresh();
  Hover(plot, 5);
  EXPECT_TRUE(Text(plot, "lblReadout").contains(QLatin1String("PSU absent: no answer")))
      << Text(plot, "lblReadout").toStdString();
  Hover(plot, 12);
  EXPECT_FALSE(Text(plot, "lblReadout").contains(QLatin1String("PSU absent")));
}

TEST_F(PlotReviewTest, ARecordingOpenedEqualsTheDataRecorded) {
  auto csv = StartRecorder("run.csv", {});
  ASSERT_TRUE(csv);
  ReadAllAt(1);
  Measure(1.25, 2031);
  Board().FailNext(5, 8);
  ReadAllAt(2);
  ReadAllAt(3.5);
  Measure(3.75, 0);
  window->Registers().RemoveObserver(*csv);
  csv->Close();

  frmPlot* plot = OpenPlot();
  OpenFile(plot, TempPath("run.csv"));
  ASSERT_TRUE(plot->Reviewing()) << (sink.messages.empty() ? "" : sink.messages.back());
  const monitor::SampleHistory& live = monitor->History();
  const monitor::SampleHistory& opened = plot->History();
  for (uint8_t address : monitor::SampleHistory::kRegisters) {
    const monitor::SampleSeries* a = live.Series(address);
    const monitor::SampleSeries* b = opened.Series(address);
    ASSERT_EQ(a->Size(), b->Size()) << int(address);
    for (std::size_t i = 0; i < a->Size(); ++i) {
      EXPECT_EQ(a->At(i).us, b->At(i).us);
      EXPECT_EQ(a->At(i).ok, b->At(i).ok);
      if (a->At(i).ok) {
        EXPECT_EQ(a->At(i).value, b->At(i).value);
      }
    }
  }
  ASSERT_EQ(opened.Channels().size(), 1u);
  EXPECT_EQ(opened.Channels()[0].series.Size(), 2u);
  EXPECT_EQ(opened.Channels()[0].series.At(0).value, 2031);
  EXPECT_EQ(opened.Start().wall, live.Start().wall);
  plot->findChild<QPushButton*>(QStringLiteral("cmdLive"))->click();
  EXPECT_FALSE(plot->Reviewing());
}

TEST_F(PlotReviewTest, AFileThatIsNotARecordingIsRefusedWithTheReason) {
  frmPlot* plot = OpenPlot();
  const std::tuple<const char*, QByteArray, std::string> cases[] = {
      {"notes.csv",
       QByteArray(recording::kCsvHeader.data()) +
           "\r\n1.0,then,scan tick,read,0x15,,0x41A0,16800,16800,0\r\n",
       "line 2: 10 fields where a row has 11."},
      {"notes.sr", "not a session\n", "not a sigrok session (no zip archive)."}};
  for (const auto& [name, contents, reason] : cases) {
    const QString path = WriteFile(name, contents);
    OpenFile(plot, path);
    EXPECT_FALSE(plot->Reviewing()) << name;
    EXPECT_EQ(sink.messages, std::vector<std::string>{path.toStdString() +
                                                      " is not a Korvo recording: " + reason});
  }
}

TEST_F(PlotReviewTest, OpenOffersKorvoCsvAndSigrokSessions) {
  frmPlot* plot = OpenPlot();
  dialogs.answer = std::nullopt;
  plot->findChild<QPushButton*>(QStringLiteral("cmdOpen"))->click();
  ASSERT_EQ(dialogs.asked.size(), 1u);
  EXPECT_EQ(dialogs.asked[0].filters, (QStringList{QStringLiteral("Korvo CSV recording (*.csv)"),
                                                   QStringLiteral("Sigrok session (*.sr)")}));
}

TEST_F(PlotReviewTest, ASrRecordingOpenedShowsEveryTickRecorded) {
  instruments::InstallSrRecordings();
  recording::RecorderOptions options;
  options.period = milliseconds(500);
  options.registers = {0x13, 0x15};
  auto sr = StartRecorder("run.sr", options);
  ASSERT_TRUE(sr);
  ReadAllAt(1);
  Board().FailNext(5, 8);
  ReadAllAt(2);
  ReadAllAt(3.5);
  window->Registers().RemoveObserver(*sr);
  sr->Close();
  ASSERT_TRUE(sr->Error().empty()) << sr->Error();

  frmPlot* plot = OpenPlot();
  OpenFile(plot, TempPath("run.sr"));
  ASSERT_TRUE(plot->Reviewing()) << (sink.messages.empty() ? "" : sink.messages.back());
  EXPECT_EQ(plot->findChild<QLabel*>(QStringLiteral("lblState"))->text(), QStringLiteral("run.sr"));
  // One sample a tick at the period, each tick's values as the live plot has them; a failed read
  // of the status register keeps its bits (logic channels hold no failure), a set point's is
  // failed.
  for (uint8_t address : {uint8_t{0x13}, uint8_t{0x15}}) {
    const monitor::SampleSeries* live = monitor->History().Series(address);
    const monitor::SampleSeries* opened = plot->History().Series(address);
    ASSERT_EQ(opened->Size(), live->Size()) << int(address);
    uint16_t held = 0;
    for (std::size_t i = 0; i < opened->Size(); ++i) {
      if (live->At(i).ok) held = live->At(i).value;
      EXPECT_EQ(opened->At(i).us, int64_t(i) * 500000) << int(address);
      EXPECT_EQ(opened->At(i).ok, address == 0x13 || live->At(i).ok) << int(address) << " " << i;
      if (opened->At(i).ok) {
        EXPECT_EQ(opened->At(i).value, held) << int(address) << " tick " << i;
      }
    }
  }
  int failed = 0;
  for (uint8_t address : {uint8_t{0x13}, uint8_t{0x15}})
    for (std::size_t i = 0; i < monitor->History().Series(address)->Size(); ++i)
      failed += !monitor->History().Series(address)->At(i).ok;
  EXPECT_GT(failed, 0);  // the failure reached the recording
}

TEST_F(PlotReviewTest, TheMainWindowsTrafficAndMessagesAreUnchangedWithThePlotOpen) {
  LoadMonitored("[SpinCustom 1]\n0x10=1234\n0x15=3A98\n", "", &clock);
  auto everything = [&] {
    Board().FailEveryNth(7, VB_TIMEOUT_ERROR, sim::FaultScope::Reads);
    Click("cmdReadAll");
    Type("txtVoltDAC", "12000");
    Click("cmdWriteAll");
    window->Panel()->Timer1_Timer();
    frmSpins(window->Registers()).cmdWriteTrim_Click(5);
    Click("cmdReadAll");
  };
  everything();
  const std::vector<std::string> plainTraffic = Traffic();
  const std::vector<std::string> plainMessages = sink.messages;
  ASSERT_GT(plainTraffic.size(), 20u);
  ASSERT_FALSE(plainMessages.empty());

  sim::Board::ResetShared();
  sink.Clear();
  frmPlot* plot = OpenPlot();
  Choose(plot, QStringLiteral("value:0x12"), true);
  Choose(plot, QStringLiteral("hideUnchanged"), true);
  ClickAt(plot, PointAt(plot, plot->ViewEnd() - 1));
  everything();
  Measure(3, 2031);
  plot->Refresh();
  EXPECT_EQ(Traffic(), plainTraffic);
  EXPECT_EQ(sink.messages, plainMessages);
}

TEST_F(PlotReviewTest, ASavedImageKeepsTheCursorsAndTheirReadout) {
  frmPlot* plot = PausedOver(20);
  const QImage without = plot->Picture();
  ClickAt(plot, PointAt(plot, 5));
  ClickAt(plot, PointAt(plot, 15));
  QWidget* picture = plot->findChild<QWidget*>(QStringLiteral("picture"));
  auto* readout = plot->findChild<QLabel*>(QStringLiteral("lblCursors"));
  EXPECT_TRUE(picture->isAncestorOf(readout));
  EXPECT_TRUE(readout->isVisibleTo(picture));
  EXPECT_TRUE(readout->text().contains(QString::fromUtf8("\u0394t")));
  EXPECT_NE(plot->Picture(), without);
}

TEST_F(PlotReviewTest, ARightClickRemovesTheNearerCursor) {
  frmPlot* plot = PausedOver(30);
  ClickAt(plot, PointAt(plot, 10));
  ClickAt(plot, PointAt(plot, 20));
  Mouse(plot, QEvent::MouseButtonPress, PointAt(plot, 11), Qt::RightButton, Qt::RightButton);
  ASSERT_EQ(plot->Cursors().size(), 1u);
  EXPECT_NEAR(plot->Cursors()[0], 20, 0.2);
}

TEST_F(PlotReviewTest, TheLegendTakesTheRowsItsLinesNeed) {
  frmPlot* plot = OpenPlot();
  plot->resize(700, 700);
  for (const char* caption : {"PSU CH1 current", "PSU CH2 current", "DMM input current", "Load CH1 current"})
    window->Registers().NotifyInstrumentReading({clock.Now(), "X", caption, caption, "current", "mA", 1});
  plot->Refresh();
  QCoreApplication::processEvents();
  QChart* chart = ChartOf(plot);
  EXPECT_LE(chart->legend()->geometry().bottom(), chart->plotArea().top());
  EXPECT_GT(chart->legend()->geometry().height(), 2.0 * QFontMetrics(chart->legend()->font()).height());
}

}  // namespace

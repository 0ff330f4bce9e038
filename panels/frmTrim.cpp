#include "panels/frmTrim.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

#include "monitor/TrimSnapshots.h"
#include "panels/frmSpins.h"
#include "registers/RegisterAccess.h"
#include "shell/Messages.h"
#include "shell/Settings.h"
#include "shell/Utils.h"
#include "views/Twips.h"
#include "views/ctlTrimRegister.h"

namespace {

QPointer<frmTrim> g_instance;

// Design, in twips. Bit 15's column starts at kColumnsLeft in the window; the heading labels of
// the top row stand over the columns of every row.
constexpr int kBitWidth = 600;
constexpr int kFrameLeft = 60;
constexpr int kViewLeft = 60;  // within the frame
constexpr int kColumnsLeft = kFrameLeft + kViewLeft;
constexpr int kViewTop = 90;
constexpr int kFramePad = 90;
constexpr int kRowGap = 30;
constexpr int kRowsTop = 540;
constexpr int kRightLeft = kViewLeft + 16 * kBitWidth + 120;  // within the frame
constexpr int kRightWidth = 4100;
constexpr int kRightHeight = 780;
constexpr int kFrameWidth = kRightLeft + kRightWidth + 60;
constexpr int kHeadingTop = 240;
constexpr int kHeadingHeight = 240;

int ColumnLeft(int bit) { return kColumnsLeft + (15 - bit) * kBitWidth; }

const std::array<frmTrim::RowDesign, frmTrim::kRows> kRowDesigns = {{
    {"&h10", "TR0: TRIM 0 REGISTER(0x10)", 600,
     "BG CRUD 2|BG CRUD 1|BG CRUD 0|ICHG XLATR 3|ICHG XLATR 2|ICHG XLATR 1|ICHG XLATR 0|IAC  4|"
     "IAC  3|IAC  2|IAC  1|IAC  0|IAC XLATR 3|IAC XLATR 2|IAC XLATR 1|IAC XLATR 0"},
    {"&h11", "TR1: TRIM 1 REGISTER(0x11)", 420,
     "ICHG 4|ICHG 3|ICHG 2|ICHG 1|ICHG 0|LBSET 3|LBSET 2|LBSET 1|LBSET 0|RDIV 4Cell 2|"
     "RDIV 4Cell 1|RDIV 4Cell 0|BG 3|BG 2|BG 1|BG 0"},
    {"&h12", "CM: CHARGER MODE REGISTER(0x12)", 600,
     "TM DAC VREG|TM DAC ICHG|TM DAC IAC|TM DPM Ovrd|SET BAT DEPL 2|SET BAT DEPL 1|"
     "SET BAT DEPL 0|SET ACOC 1|SET ACOC 0|ACOC EN|PWM FSEL|Learn Cycle|IOUT Select|"
     "CHG Default|TM ACOC SEL|CHG END"},
    {"&h13", "CHARGER STATUS REG(0x13)", 600,
     "AC DET|BAT DET|AC < BAT|VOLT OutOf Range|BAT DEPL|TS HOT OP|TS COLD|TSHUT|AC To SYS|"
     "BAT To SYS|CHOC|DPM LOOP Disable|ICHG LOOP Disable|VCHG LOOP Disable|Charge Off|"
     "CHG Not Ready"},
    {"&h14", "CC: CHARGING CURRENT REG(0x14)", 600,
     "ICHG DAC 8|ICHG DAC 7|ICHG DAC 6|ICHG DAC 5|ICHG DAC 4|ICHG DAC 3|ICHG DAC 2|"
     "ICHG DAC 1|ICHG DAC 0|TM Set chg ucp|TM Set bat detz|TM Set bat sysz|TM Set bat depl|"
     "TM Set AIR DET|TM VDAC Ovrd|TM Set Bat_lowv"},
    {"&h15", "CV: CHARGING VOLTAGE REG(0x15)", 600,
     "VREG DAC 14|CELLS/ VDAC 13|VREG DAC 12|VREG DAC 11|VREG DAC 10|VREG DAC 9|VREG DAC 8|"
     "VREG DAC 7|VREG DAC 6|VREG DAC 5|VREG DAC 4|VREG DAC 3|VREG DAC 2|VREG DAC 1|"
     "VREG DAC 0|TM vdac "},
    {"&h16", "TR2: TRIM 2 REGISTER(0x16)", 600,
     "SMBus AD 1/ PWM30|SMBus AD 0/ 31_30Z|ReadIdle Ovrd/ 2Cell|SDASCL Ovrd/ AirOut|"
     "AC Good TSz|DEV SEL 20_30Z|Rdiv 3Cell 2|Rdiv 3Cell 1|Rdiv 3Cell 0|OSC 1|OSC 0|"
     "SET ACUC 1|SET ACUC 0|SET CHGOC 1|SET CHGOC 0|OVRD EN"},
    {"&h17", "TM1: TEST MODE 1 REGISTER(0x17)", 600,
     "TM CLK 1|TM CLK 0|TM TShut|TM Alarm in en|TMOD IDAC|TM BG CRUD BGZ|TM Soft Trim|"
     "TM Dig TP|TM Set|TM 100|TM BG|TMDAC Cntr|TMExt Clock|TMEE BURN|TM Soft Rst|TMEN"},
    {"&h18", "TM2: TEST MODE 2 REGISTER(0x18)", 600,
     "TMSet REGN GOOD|TMSet VREF5 GOOD|TM Set ACDET|TM Set Susp|TMSet CHG OCP|TM Set ACUC|"
     "TM Set ACOC|TMSet Bat ACPZ|ACOC OVRD|TS OVRD|ACUC OVRD|CHG OCP OVRD|SYNC OVRD|"
     "Batshort CHG10|Batshort EN|DTIMR EN"},
    {"&h19", "VDT REG (0x19)", 600,
     "High OutOf Range|DAC Offset|VDAC 6|VDAC 5|VDAC 4|VDAC 3|VDAC 2|VDAC 1|VDAC 0|"
     "Mid Outof Range|Low OutOf Range|Nine Volt|VDAC Chg Inhibit|Four cell|Three Cell|"
     "Two Cell"},
    {"&h3f", "IC: INPUT CURRENT REGISTER(0x3F)", 600,
     "IAC DAC 8|IAC DAC 7|IAC DAC 6|IAC DAC 5|IAC DAC 4|IAC DAC 3|IAC DAC 2|IAC DAC 1|"
     "IAC DAC 0|TM Decode 4|TM Decode 3|TM Decode 2|TM Decode 1|TM Decode 0|TM SoftStart|"
     "TM CLK 2"},
}};

QString Indexed(const char* base, int i) {
  const QString b = QString::fromLatin1(base);
  return b.back().isDigit() ? QStringLiteral("%1_%2").arg(b).arg(i) : b + QString::number(i);
}

}  // namespace

const std::array<frmTrim::RowDesign, frmTrim::kRows>& frmTrim::Rows() { return kRowDesigns; }

bool frmTrim::TrimButtonWanted() { return Settings::GetInt("Settings", "ShowTrimRegisters", 0) != 0; }

frmTrim* frmTrim::Open(RegisterAccess& access, const QWidget* beside) {
  if (!g_instance) {
    g_instance = new frmTrim(access);
    g_instance->PlaceBeside(beside);
  }
  g_instance->show();
  g_instance->raise();
  g_instance->activateWindow();
  return g_instance;
}

frmTrim* frmTrim::Instance() { return g_instance; }

void frmTrim::CloseInstance() {
  if (g_instance) g_instance->close();
}

uint8_t frmTrim::AddressFromTag(const QString& tag) {
  QString digits = tag.trimmed();
  if (digits.startsWith(QStringLiteral("&h"), Qt::CaseInsensitive)) digits = digits.mid(2);
  return static_cast<uint8_t>(Utils::LenientHexValue(digits.toStdString()) & 0xFF);
}

frmTrim::frmTrim(RegisterAccess& access, QWidget* parent) : QWidget(parent), access_(access) {
  setObjectName(QStringLiteral("frmTrim"));
  setWindowTitle(QStringLiteral("rk5190 Korvo Test Mode Registers"));
  setAttribute(Qt::WA_DeleteOnClose);
  QFont f = font();
  f.setPointSize(8);
  setFont(f);
  BuildControls();
  Form_Load();
}

frmTrim::~frmTrim() = default;

void frmTrim::closeEvent(QCloseEvent* e) {
  // A closing window is gone for Open() even before its deferred deletion has run.
  if (g_instance == this) g_instance = nullptr;
  QWidget::closeEvent(e);
}

void frmTrim::BuildControls() {
  auto* content = new QWidget;
  content->setObjectName(QStringLiteral("content"));
  content->setFont(font());
  auto place = [content](QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(Twips::ToRect(content, left, top, width, height));
  };
  auto button = [&](QWidget* parent, const QString& name, const char* caption) {
    auto* b = new QPushButton(QString::fromUtf8(caption), parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
  };

  cmdReadAll = button(content, QStringLiteral("cmdReadAll"), "&Read All");
  cmdWriteAll = button(content, QStringLiteral("cmdWriteAll"), "&Write All");
  cmdSpins = button(content, QStringLiteral("cmdSpins"), "&Spins...");
  place(cmdReadAll, ColumnLeft(11), 60, 2 * kBitWidth - 60, 420);
  place(cmdWriteAll, ColumnLeft(9), 60, 2 * kBitWidth - 60, 420);
  place(cmdSpins, ColumnLeft(7), 60, 2 * kBitWidth - 60, 420);

  for (int i = 0; i < 16; ++i) {
    auto* l = new QLabel(QStringLiteral("B%1").arg(i), content);
    l->setObjectName(QStringLiteral("BitLabel%1").arg(i));
    l->setAlignment(Qt::AlignCenter);
    l->setEnabled(false);
    place(l, ColumnLeft(i), kHeadingTop, kBitWidth, kHeadingHeight);
    if (i >= 6 && i <= 11) l->setVisible(false);  // where the buttons sit
    bitLabels_[i] = l;
  }

  int top = kRowsTop;
  for (int i = 0; i < kRows; ++i) {
    const RowDesign& d = kRowDesigns[i];
    Row& r = rows_[i];
    r.frame = new QGroupBox(content);
    r.frame->setObjectName(Indexed("Frame1", i));

    r.view = new ctlTrimRegister(r.frame);
    r.view->setObjectName(Indexed("ctlTrimReg", i));
    r.view->SetTag(QString::fromLatin1(d.tag));
    r.view->SetBitWidth(kBitWidth);
    r.view->SetBitLabelHeight(d.bitLabelHeight);
    r.view->move(Twips::ToPxX(content, kViewLeft), Twips::ToPxY(content, kViewTop));

    r.title = new QLabel(QString::fromLatin1(d.title), r.frame);
    r.title->setObjectName(Indexed("Label1", i));
    r.title->setWordWrap(true);
    QFont bold = r.title->font();
    bold.setBold(true);
    r.title->setFont(bold);

    r.hexLabel = new QLabel(i == kReadOnlyRow ? QStringLiteral("Hex Value")
                                              : QStringLiteral("Hex Value (for write)"),
                            r.frame);
    r.hexLabel->setObjectName(Indexed("lblHex", i));
    r.hex = new QLineEdit(r.frame);
    r.hex->setObjectName(Indexed("txtHexVal", i));
    r.hex->setMaxLength(4);
    r.read = button(r.frame, Indexed("cmdRead", i), "&Read");
    r.write = button(r.frame, Indexed("cmdWrite", i), "&Write");
    if (i == kReadOnlyRow) {
      r.hex->setReadOnly(true);
      r.write->setVisible(false);
    }

    const int viewHeight = r.view->HeightTwips();
    const int inner = std::max(viewHeight, kRightHeight);
    place(r.frame, kFrameLeft, top, kFrameWidth, inner + kViewTop + kFramePad);
    auto placeIn = [&](QWidget* w, int left, int t, int width, int height) {
      w->setGeometry(Twips::ToRect(r.frame, left, t, width, height));
    };
    placeIn(r.title, kRightLeft, kViewTop, kRightWidth, 330);
    placeIn(r.hexLabel, kRightLeft, kViewTop + 420, 1800, 300);
    placeIn(r.hex, kRightLeft + 1800, kViewTop + 405, 700, 330);
    placeIn(r.read, kRightLeft + 2580, kViewTop + 390, 720, 360);
    placeIn(r.write, kRightLeft + 3360, kViewTop + 390, 720, 360);
    top += inner + kViewTop + kFramePad + kRowGap;
  }
  const QSize contentSize = Twips::ToRect(content, 0, 0, kFrameLeft + kFrameWidth + 60, top).size();
  content->setFixedSize(contentSize);

  scroll_ = new QScrollArea(this);
  scroll_->setObjectName(QStringLiteral("scroll"));
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setWidget(content);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(scroll_);

  PlaceBeside(nullptr);

  for (int i = 0; i < kRows; ++i) {
    connect(rows_[i].read, &QPushButton::clicked, this, [this, i] { cmdRead_Click(i); });
    connect(rows_[i].write, &QPushButton::clicked, this, [this, i] { cmdWrite_Click(i); });
    connect(rows_[i].view, &ctlTrimRegister::Change, this, [this, i] { ctlTrimReg_Change(i); });
  }
  connect(cmdReadAll, &QPushButton::clicked, this, &frmTrim::cmdReadAll_Click);
  connect(cmdWriteAll, &QPushButton::clicked, this, &frmTrim::cmdWriteAll_Click);
  connect(cmdSpins, &QPushButton::clicked, this, &frmTrim::cmdSpins_Click);

  // Snapshots: in the top row after Spins, over the row titles; last in tab order.
  auto* cmdSaveSnapshot = button(content, QStringLiteral("cmdSaveSnapshot"), "Save Snapshot...");
  auto* cmdCompare = button(content, QStringLiteral("cmdCompare"), "Compare...");
  place(cmdSaveSnapshot, kFrameLeft + kRightLeft, 60, 1900, 420);
  place(cmdCompare, kFrameLeft + kRightLeft + 1980, 60, 1500, 420);
  connect(cmdSaveSnapshot, &QPushButton::clicked, this,
          [this] { monitor::SaveSnapshot(*this, access_); });
  connect(cmdCompare, &QPushButton::clicked, this,
          [this] { monitor::CompareWithSnapshot(*this, access_); });
}

frmTrim::Placement frmTrim::InitialPlacement(const QRect& available, const QRect& mainFrame,
                                             const QSize& content, const QMargins& frameMargins,
                                             int scrollBarExtent) {
  const QSize frame(frameMargins.left() + frameMargins.right(),
                    frameMargins.top() + frameMargins.bottom());
  const QSize fit =
      QSize(kFitScreen.width(), kFitScreen.height() - kPanelAllowance).boundedTo(available.size()) -
      frame;
  QSize client = content.boundedTo(fit);
  // A window that has to scroll one way needs the other way's room for the scroll bar.
  if (client.height() < content.height())
    client.setWidth(std::min(content.width() + scrollBarExtent, fit.width()));
  if (client.width() < content.width())
    client.setHeight(std::min(content.height() + scrollBarExtent, fit.height()));
  const QSize outer = client + frame;

  int x = available.right() - outer.width() + 1;  // no room beside: against the right edge
  if (mainFrame.right() + outer.width() <= available.right()) {
    x = mainFrame.right() + 1;
  } else if (mainFrame.left() - outer.width() >= available.left()) {
    x = mainFrame.left() - outer.width();
  }
  x = std::max(x, available.left());
  int y = mainFrame.isValid() ? mainFrame.top() : available.top();
  y = std::max(std::min(y, available.bottom() - outer.height() + 1), available.top());
  return {QRect(QPoint(x, y), outer), client};
}

void frmTrim::PlaceBeside(const QWidget* main) {
  const QScreen* screen = main ? main->screen() : QApplication::primaryScreen();
  if (!screen) return;
  const QSize content = scroll_->widget()->size();
  QRect mainFrame;
  // Without a frame yet, this window's will be like the main window's.
  QMargins margins;
  if (main) {
    mainFrame = main->frameGeometry();
    const QRect inner = main->geometry();
    margins = QMargins(inner.left() - mainFrame.left(), inner.top() - mainFrame.top(),
                       mainFrame.right() - inner.right(), mainFrame.bottom() - inner.bottom());
  }
  const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  const Placement p =
      InitialPlacement(screen->availableGeometry(), mainFrame, content, margins, scrollBar);
  resize(p.client);
  if (main) move(p.frame.topLeft());
}

void frmTrim::Form_Load() {
  for (Row& r : rows_) {
    r.view->SetBitHiColor(modGlobals::BitHi);
    r.view->SetBitLoColor(modGlobals::BitLo);
    r.view->SetBitUnknownColor(modGlobals::BitUnknown);
  }
  for (int i = 0; i < kRows; ++i)
    rows_[i].view->SetBitDescription(QString::fromLatin1(kRowDesigns[i].bitNames));
}

void frmTrim::cmdRead_Click(int i) {
  Row& r = rows_[i];
  int16_t value = 0;
  const int32_t status = access_.ReadRegister(r.title->text().toStdString(),
                                              AddressFromTag(r.view->Tag()), value,
                                              modGlobals::DeviceAddress);
  // The failure has been reported; the row becomes unknown. The hex box follows via Change.
  if (status != 0)
    r.view->SetValue(std::nullopt);
  else
    r.view->SetValue(value);
}

void frmTrim::ctlTrimReg_Change(int i) {
  Row& r = rows_[i];
  if (const std::optional<int32_t> v = r.view->Value())
    r.hex->setText(QString::fromStdString(Utils::PadLeftZeros(Utils::Hex(static_cast<uint32_t>(*v)), 4)));
  else
    r.hex->setText(QString());
}

void frmTrim::cmdWrite_Click(int i) {
  Row& r = rows_[i];
  const std::string title = r.title->text().toStdString();
  std::string text = r.hex->text().toStdString();
  if (text.empty()) {
    MsgBox("Write failed! Incorrect value for " + title);
    return;
  }
  if (!Utils::IsHexString(text)) {  // trims text; blanks only is accepted and writes 0
    MsgBox("Write failed! Please specify a proper hex value without any prefix.");
    return;
  }
  const int16_t value = Utils::UIntToInt(static_cast<int32_t>(Utils::LenientHexValue(text) & 0xFFFF));
  const int32_t status = access_.WriteRegister(title, AddressFromTag(r.view->Tag()), value,
                                               modGlobals::DeviceAddress);
  if (status == 0 && modGlobals::VerifyWrite) {
    const RegisterAccess::SourceScope tag(access_, recording::AccessSource::kVerifyReadBack);
    cmdRead_Click(i);
  }
}

void frmTrim::cmdReadAll_Click() {
  for (int i = 0; i < kRows; ++i) cmdRead_Click(i);
}

void frmTrim::cmdWriteAll_Click() {
  const bool verify = modGlobals::VerifyWrite;
  modGlobals::VerifyWrite = false;
  for (int i = 0; i < kRows; ++i) {
    if (!rows_[i].write->isHidden()) cmdWrite_Click(i);
  }
  if (verify) {
    const RegisterAccess::SourceScope tag(access_, recording::AccessSource::kVerifyReadBack);
    cmdReadAll_Click();
    modGlobals::VerifyWrite = true;
  }
}

void frmTrim::cmdSpins_Click() {
  frmSpins dialog(access_, this);
  dialog.exec();
}

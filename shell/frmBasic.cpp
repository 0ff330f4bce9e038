#include "shell/frmBasic.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <iostream>
#include <string_view>
#include <utility>

#include "adapter/frmUSB.h"
#include "drivers/Drivers.h"
#include "dialogs/frmLegend.h"
#include "dialogs/frmSplash.h"
#include "monitor/Monitor.h"
#include "panels/frmTrim.h"
#include "registers/RegisterTable.h"
#include "shell/CommandLine.h"
#include "shell/Messages.h"
#include "shell/ScanTimer.h"
#include "shell/Settings.h"
#include "shell/Utils.h"
#include "shell/Version.h"
#include "views/BitBoxes.h"
#include "views/ClickableLabel.h"
#include "views/ctlCtrlRegister.h"
#include "views/ctlDACRegister.h"
#include "views/ctlStatRegister.h"

namespace {

// Every access of this panel names its register this way; the address tells them apart.
const std::string kRegName = "CS: Status";
constexpr int32_t kWhite = 0xFFFFFF;
constexpr int32_t kOutOfRange = 0x2020FF;

frmBasic* g_current = nullptr;
int g_settleMs = 1000;

// The register a view's Tag names; every view of this window shows one of the table's.
const RegisterTable::Register& RegisterOf(const BitRegisterView* view) {
  return *RegisterTable::Find(RegisterTable::AddressFromTag(view->Tag().toStdString()));
}

QString FromView(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// "Valid: 9000, 12000 to 14400 or 16000 to 19200 mV" and "Resolution: 2 mV (bit 1, VREG DAC 0)":
// the ranges the entry colouring uses, and the value of the register's lowest DAC bit.
QString DacToolTip(const RegisterTable::Register& r) {
  const RegisterTable::Dac& dac = *r.dac;
  QStringList spans;
  for (const RegisterTable::Range& s : dac.valid)
    spans << (s.low == s.high ? QString::number(s.low)
                              : QStringLiteral("%1 to %2").arg(s.low).arg(s.high));
  QString valid = spans.takeLast();
  if (!spans.isEmpty()) valid = spans.join(QStringLiteral(", ")) + QStringLiteral(" or ") + valid;
  const QString unit = FromView(dac.unit);
  return QStringLiteral("Valid: %1 %2\nResolution: %3 %2 (bit %4, %5)")
      .arg(valid, unit)
      .arg(dac.Resolution())
      .arg(dac.lowestBit)
      .arg(FromView(RegisterTable::TrimBitName(r, dac.lowestBit)));
}

double NumericValue(const QString& text) {
  const std::string s = text.toStdString();
  if (const auto v = Utils::ParseDecimal(s)) return *v;
  return Utils::LeadingNumber(s);
}

// Back to the window's own background.
void ClearBase(QLineEdit* box) {
  if (box->testAttribute(Qt::WA_SetPalette)) box->setPalette(QPalette());
}

void ColourDACEntry(QLineEdit* dacEntry, const RegisterTable::Dac& dac) {
  const QString text = dacEntry->text();
  const double v = text.isEmpty() ? 0.0 : NumericValue(text);
  PaintBase(dacEntry, dac.Valid(v) ? kWhite : kOutOfRange);
}

QString Hex4(uint32_t v) {
  return QString::fromStdString(Utils::PadLeftZeros(Utils::Hex(v), 4));
}

// Counts the register accesses in progress, so a scan tick never starts inside one.
struct Busy {
  explicit Busy(int& depth) : d(depth) { ++d; }
  ~Busy() { --d; }
  int& d;
};

}  // namespace

frmBasic* frmBasic::Current() { return g_current; }

frmLegend* frmBasic::Legend() const { return legend_.data(); }

void frmBasic::SetSettleIntervalForTesting(int ms) { g_settleMs = ms > 0 ? ms : 1000; }

frmBasic::frmBasic(QWidget* parent, std::unique_ptr<ScanTimer> scanTimer) : QWidget(parent) {
  g_current = this;
  timer1_ = scanTimer ? scanTimer.release() : new QtScanTimer;
  timer1_->setParent(this);
  timer1_->setObjectName(QStringLiteral("Timer1"));
  setObjectName(QStringLiteral("frmBasic"));
  setWindowTitle(QString::fromLatin1(kAppTitle));
  Zentio1_ = frmUSB::CreateControl();
  BuildControls();
  ConnectHandlers();
}

frmBasic::~frmBasic() {
  if (g_current == this) g_current = nullptr;
}

void frmBasic::SetMonitor(std::unique_ptr<monitor::Monitor> monitor) {
  monitor_ = std::move(monitor);
  if (!monitor_) return;
  int at = bottomRow_->indexOf(cmdAbout) + 1;
  for (QWidget* w : monitor_->Controls()) bottomRow_->insertWidget(at++, w);
}

void frmBasic::BuildControls() {
  auto button = [this](const char* name, const char* caption) {
    auto* b = new QPushButton(QString::fromUtf8(caption), this);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    return b;
  };
  auto label = [this](const char* name, const char* caption) {
    auto* l = new QLabel(QString::fromUtf8(caption), this);
    if (name) l->setObjectName(QString::fromLatin1(name));
    l->setTextFormat(Qt::PlainText);
    return l;
  };
  auto entry = [this](const char* name, int maxLength, int width) {
    auto* e = new QLineEdit(this);
    e->setObjectName(QString::fromLatin1(name));
    if (maxLength > 0) e->setMaxLength(maxLength);
    e->setFixedWidth(width);
    return e;
  };
  const int digitWidth = fontMetrics().horizontalAdvance(QStringLiteral("0"));

  // Status register.
  auto* fraStatus = new QGroupBox(QStringLiteral("STATUS REGISTER (0x13)"), this);
  fraStatus->setObjectName(QStringLiteral("fraStatus"));
  ctlStatRegister1 = new ctlStatRegister(fraStatus);
  ctlStatRegister1->setObjectName(QStringLiteral("ctlStatRegister1"));
  ctlStatRegister1->SetTag(QStringLiteral("&h13"));
  cmdReadStat = button("cmdReadStat", "Read");
  lblStatRegisterHex = label("lblStatRegisterHex", "");
  lblStatRegisterHex->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("Hex value = FFFF")) + 8);
  {
    auto* g = new QGridLayout(fraStatus);
    g->addWidget(ctlStatRegister1, 0, 0, 1, 2);
    g->addWidget(cmdReadStat, 0, 2, Qt::AlignVCenter);
    g->addWidget(lblStatRegisterHex, 1, 0);
    g->setColumnStretch(1, 1);
  }

  // Control register.
  auto* fraControl = new QGroupBox(QStringLiteral("CONTROL REGISTER (0x12)"), this);
  fraControl->setObjectName(QStringLiteral("fraControl"));
  ctlCtrlRegister1 = new ctlCtrlRegister(fraControl);
  ctlCtrlRegister1->setObjectName(QStringLiteral("ctlCtrlRegister1"));
  ctlCtrlRegister1->SetTag(QStringLiteral("&h12"));
  cmdReadCtrlReg = button("cmdReadCtrlReg", "&Read");
  txtCtrlRegisterHex = entry("txtCtrlRegisterHex", 0, digitWidth * 10 + 12);
  WriteControlReg = button("WriteControlReg", "&Write");
  {
    auto* v = new QVBoxLayout(fraControl);
    auto* top = new QHBoxLayout;
    top->addWidget(ctlCtrlRegister1);
    top->addSpacing(8);
    top->addWidget(cmdReadCtrlReg, 0, Qt::AlignVCenter);
    top->addStretch(1);
    v->addLayout(top);
    auto* hex = new QHBoxLayout;
    hex->addWidget(label(nullptr, "0x"));
    hex->addWidget(txtCtrlRegisterHex);
    hex->addWidget(label(nullptr, "<--- Hex value that will be written(No prefix please)"));
    hex->addSpacing(8);
    hex->addWidget(WriteControlReg);
    hex->addStretch(1);
    v->addLayout(hex);
  }

  // DAC registers.
  auto* fraDAC = new QGroupBox(QStringLiteral("REGISTERS (DAC)"), this);
  fraDAC->setObjectName(QStringLiteral("fraDAC"));
  auto dacRow = [&](const char* viewName, const char* tag, const char* readName,
                    const char* entryName, const char* writeName, ctlDACRegister*& view,
                    QPushButton*& read, QLineEdit*& dacEntry, QPushButton*& write) {
    view = new ctlDACRegister(fraDAC);
    view->setObjectName(QString::fromLatin1(viewName));
    view->SetTag(QString::fromLatin1(tag));
    read = button(readName, "&Read");
    dacEntry = entry(entryName, 5, digitWidth * 7 + 12);
    write = button(writeName, "&Write");
  };
  dacRow("ctlDACRegisterVolt", "&h15", "cmdReadVoltDAC", "txtVoltDAC", "cmdWriteVoltDAC",
         ctlDACRegisterVolt, cmdReadVoltDAC, txtVoltDAC, cmdWriteVoltDAC);
  dacRow("ctlDACRegisterCurr", "&h14", "cmdReadCurrDAC", "txtCurrDAC", "cmdWriteCurrDAC",
         ctlDACRegisterCurr, cmdReadCurrDAC, txtCurrDAC, cmdWriteCurrDAC);
  dacRow("ctlDACRegisterIpCurr", "&h3f", "cmdReadIpCurrDAC", "txtIpCurrDAC",
         "cmdWriteIpCurrDAC", ctlDACRegisterIpCurr, cmdReadIpCurrDAC, txtIpCurrDAC,
         cmdWriteIpCurrDAC);
  {
    auto* g = new QGridLayout(fraDAC);
    g->addWidget(label(nullptr, "Decimal Value to write"), 0, 3, 1, 3);
    struct Row {
      const char* caption;
      ctlDACRegister* view;
      QPushButton* read;
      QLineEdit* dacEntry;
      const char* unit;
      QPushButton* write;
    };
    const Row rows[] = {
        {"BATTERY VOLTAGE (0x15)", ctlDACRegisterVolt, cmdReadVoltDAC, txtVoltDAC, "mV",
         cmdWriteVoltDAC},
        {"CHARGE CURRENT (0x14)", ctlDACRegisterCurr, cmdReadCurrDAC, txtCurrDAC, "mA",
         cmdWriteCurrDAC},
        {"INPUT CURRENT (0x3F)", ctlDACRegisterIpCurr, cmdReadIpCurrDAC, txtIpCurrDAC, "mA",
         cmdWriteIpCurrDAC},
    };
    int r = 1;
    for (const Row& row : rows) {
      g->addWidget(label(nullptr, row.caption), r, 0, Qt::AlignBottom);
      g->addWidget(row.view, r, 1);
      g->addWidget(row.read, r, 2, Qt::AlignBottom);
      g->addWidget(row.dacEntry, r, 3, Qt::AlignBottom);
      g->addWidget(label(nullptr, row.unit), r, 4, Qt::AlignBottom);
      g->addWidget(row.write, r, 5, Qt::AlignBottom);
      ++r;
    }
    g->setColumnStretch(6, 1);
  }
  // The DAC bits take the test-mode window's names.
  for (const auto& [view, dacEntry] :
       {std::pair{ctlDACRegisterVolt, txtVoltDAC}, std::pair{ctlDACRegisterCurr, txtCurrDAC},
        std::pair{ctlDACRegisterIpCurr, txtIpCurrDAC}}) {
    const RegisterTable::Register& r = RegisterOf(view);
    for (int bit = 0; bit < 16; ++bit)
      view->SetBitName(bit, FromView(RegisterTable::TrimBitName(r, bit)));
    dacEntry->setToolTip(DacToolTip(r));
  }

  // Scan, address, bus mode and the window commands.
  ContinuousScan = new QCheckBox(QStringLiteral("Continuous Scan"), this);
  ContinuousScan->setObjectName(QStringLiteral("ContinuousScan"));
  ScanPeriod = entry("ScanPeriod", 5, digitWidth * 7 + 12);
  ScanPeriod->setText(QStringLiteral("500"));
  lblDevAddr = label("lblDevAddr", "Device Address 0x");
  txtDevAddr = entry("txtDevAddr", 0, digitWidth * 6 + 12);
  txtDevAddr->setText(QStringLiteral("66"));
  lblCommMode = new ClickableLabel(QStringLiteral("SMB"), this);
  lblCommMode->setObjectName(QStringLiteral("lblCommMode"));
  lblCommMode->setFrameShape(QFrame::Panel);
  lblCommMode->setFrameShadow(QFrame::Raised);
  lblCommMode->setAlignment(Qt::AlignCenter);
  lblCommMode->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("SMB")) + 16);
  lblCommMode->setToolTip(QStringLiteral("Click to switch between SMBus and I2C"));
  lblCommMode->setCursor(Qt::PointingHandCursor);
  cmdReadAll = button("cmdReadAll", "Read &All");
  cmdWriteAll = button("cmdWriteAll", "Write &All");
  cmdLegend = button("cmdLegend", "&Legend...");
  cmdAbout = button("cmdAbout", "&About...");
  cmdTrimRegs = button("cmdTrimRegs", "Trim Registers...");
  cmdTrimRegs->setVisible(false);
  cmdTrimRegs->setEnabled(false);
  LblVer = label("LblVer", "Ver");

  timer2_ = new QTimer(this);
  timer2_->setObjectName(QStringLiteral("Timer2"));

  auto* root = new QVBoxLayout(this);
  root->addWidget(fraStatus);
  root->addWidget(fraControl);
  root->addWidget(fraDAC);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(ContinuousScan);
  bottom->addSpacing(12);
  bottom->addWidget(label(nullptr, "Scan Period (msec)"));
  bottom->addWidget(ScanPeriod);
  bottom->addSpacing(24);
  bottom->addWidget(lblDevAddr);
  bottom->addWidget(txtDevAddr);
  bottom->addSpacing(12);
  bottom->addWidget(lblCommMode);
  bottom->addStretch(1);
  bottom->addWidget(cmdReadAll);
  bottom->addWidget(cmdWriteAll);
  bottom->addWidget(cmdTrimRegs);
  root->addLayout(bottom);
  bottomRow_ = new QHBoxLayout;
  bottomRow_->addWidget(cmdLegend);
  bottomRow_->addWidget(cmdAbout);
  bottomRow_->addStretch(1);
  bottomRow_->addWidget(LblVer);
  root->addLayout(bottomRow_);
  root->setSizeConstraint(QLayout::SetMinimumSize);
}

void frmBasic::ConnectHandlers() {
  connect(cmdReadStat, &QPushButton::clicked, this, &frmBasic::ReadStatusRegister);
  connect(cmdReadCtrlReg, &QPushButton::clicked, this, &frmBasic::ReadControlRegister);
  connect(cmdReadVoltDAC, &QPushButton::clicked, this, &frmBasic::ReadVoltDAC);
  connect(cmdReadCurrDAC, &QPushButton::clicked, this, &frmBasic::ReadCurrDAC);
  connect(cmdReadIpCurrDAC, &QPushButton::clicked, this, &frmBasic::ReadIpCurrDAC);
  connect(cmdReadAll, &QPushButton::clicked, this, &frmBasic::ReadAllRegisters);
  connect(cmdWriteAll, &QPushButton::clicked, this, &frmBasic::WriteAllRegisters);
  connect(cmdWriteVoltDAC, &QPushButton::clicked, this, &frmBasic::WriteVoltDAC);
  connect(cmdWriteCurrDAC, &QPushButton::clicked, this, &frmBasic::WriteCurrDAC);
  connect(cmdWriteIpCurrDAC, &QPushButton::clicked, this, &frmBasic::WriteIpCurrDAC);
  connect(WriteControlReg, &QPushButton::clicked, this, [this] {
    // An empty entry stays empty, so the write below refuses it rather than sending 0.
    const std::string text = txtCtrlRegisterHex->text().toStdString();
    if (!text.empty()) txtCtrlRegisterHex->setText(Hex4(Utils::LenientHexValue(text)));
    WriteControlRegister();
  });
  connect(ctlCtrlRegister1, &BitRegisterView::Change, this, &frmBasic::RefreshControlHex);
  connect(ctlDACRegisterVolt, &BitRegisterView::Change, this,
          [this] { OnDACViewChange(ctlDACRegisterVolt, txtVoltDAC); });
  connect(ctlDACRegisterCurr, &BitRegisterView::Change, this,
          [this] { OnDACViewChange(ctlDACRegisterCurr, txtCurrDAC); });
  connect(ctlDACRegisterIpCurr, &BitRegisterView::Change, this,
          [this] { OnDACViewChange(ctlDACRegisterIpCurr, txtIpCurrDAC); });
  connect(txtVoltDAC, &QLineEdit::textChanged, this, [this] {
    AllowOnlyNumeric(txtVoltDAC);
    ColourDACEntry(txtVoltDAC, *RegisterOf(ctlDACRegisterVolt).dac);
  });
  connect(txtCurrDAC, &QLineEdit::textChanged, this, [this] {
    AllowOnlyNumeric(txtCurrDAC);
    ColourDACEntry(txtCurrDAC, *RegisterOf(ctlDACRegisterCurr).dac);
  });
  connect(txtIpCurrDAC, &QLineEdit::textChanged, this, [this] {
    AllowOnlyNumeric(txtIpCurrDAC);
    ColourDACEntry(txtIpCurrDAC, *RegisterOf(ctlDACRegisterIpCurr).dac);
  });
  connect(txtDevAddr, &QLineEdit::textChanged, this, [this] {
    RestartTimer2();
    ColourSettleBoxes();
  });
  connect(ScanPeriod, &QLineEdit::textChanged, this, [this] {
    RestartTimer2();
    ColourSettleBoxes();
  });
  connect(ContinuousScan, &QCheckBox::toggled, this, [this](bool on) {
    timer1Enabled_ = on;
    UpdateTimer1();
  });
  connect(lblCommMode, &ClickableLabel::clicked, this, &frmBasic::ToggleCommMode);
  connect(timer1_, &ScanTimer::Tick, this, &frmBasic::Timer1_Timer);
  connect(timer2_, &QTimer::timeout, this, &frmBasic::Timer2_Timer);
  connect(cmdAbout, &QPushButton::clicked, this, &frmBasic::ShowAbout);
  connect(cmdLegend, &QPushButton::clicked, this, &frmBasic::ShowLegend);
  connect(cmdTrimRegs, &QPushButton::clicked, this, &frmBasic::openTrimWindow);
  connect(this, &frmBasic::openTrimWindow, this, [this] { frmTrim::Open(registers_, this); });
}

// --- lifecycle ---

void frmBasic::Form_Load() {
  CommandLineProcessing(CommandLine::ArgumentString());
  LblVer->setText(QString::fromStdString(VersionText()));
  if (!frmUSB::Get().OpenFirstFreeDevice()) {
    MsgBox(kOpenFailureText);
    // Why no bus opened (permissions, a busy bus) is for the terminal the program ran from.
    std::cerr << SelectedDriverDiagnostics();
  }
  Settings::LoadColors();
  HandColoursToViews();
  Settings::LoadCommSettings();
  lblCommMode->setText(modGlobals::I2CMode ? QStringLiteral("I2C") : QStringLiteral("SMB"));
  txtDevAddr->setText(QString::fromStdString(Utils::Hex16(modGlobals::DeviceAddress)));
  // Hidden and disabled unless the settings file asks for the test-mode window.
  if (frmTrim::TrimButtonWanted()) {
    cmdTrimRegs->setVisible(true);
    cmdTrimRegs->setEnabled(true);
  }
}

void frmBasic::CommandLineProcessing(const std::string& sArg) {
  if (!CommandLine::IsRk5191(sArg)) return;
  setWindowTitle(QStringLiteral("rk5191 Korvo"));
  ctlStatRegister1->Makerk5191();
}

void frmBasic::HandColoursToViews() {
  using namespace modGlobals;
  ctlStatRegister1->SetBitHiColor(BitHi);
  ctlStatRegister1->SetBitLoColor(BitLo);
  ctlStatRegister1->SetBitUnknownColor(BitUnknown);
  for (BitRegisterView* v : {static_cast<BitRegisterView*>(ctlCtrlRegister1),
                             static_cast<BitRegisterView*>(ctlDACRegisterCurr),
                             static_cast<BitRegisterView*>(ctlDACRegisterIpCurr),
                             static_cast<BitRegisterView*>(ctlDACRegisterVolt)}) {
    v->SetBitHiColor(BitHi);
    v->SetBitLoColor(BitLo);
    v->SetBitUnknownColor(BitUnknown);
  }
}

void frmBasic::closeEvent(QCloseEvent* e) {
  Form_Unload();
  e->accept();
}

void frmBasic::Form_Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  timer1_->Stop();
  timer2_->stop();
  // Windows owned by this one (About, legend) close with it.
  for (QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (w->isWindow()) w->close();
  }
  frmUSB::Get().CloseDevice();
}

// --- register access ---

int32_t frmBasic::ReadRegister(const std::string& sRegName, uint8_t nRegAddr, int16_t& nResult,
                               int16_t nTargetAddr) {
  Busy busy(opDepth_);
  const int32_t status = registers_.ReadRegister(sRegName, nRegAddr, nResult, nTargetAddr);
  // A failed read has shown its message by now, and the user has closed it.
  if (status != 0 && inTick_) failureClosedAt_ = timer1_->NowMs();
  return status;
}

int32_t frmBasic::WriteRegister(const std::string& sRegName, uint8_t nRegAddr, int16_t nWord,
                                int16_t nTargetAddr) {
  Busy busy(opDepth_);
  return registers_.WriteRegister(sRegName, nRegAddr, nWord, nTargetAddr);
}

uint8_t frmBasic::AddressFromTag(const QString& tag) {
  QString digits = tag;
  if (digits.startsWith(QStringLiteral("&h"), Qt::CaseInsensitive)) digits = digits.mid(2);
  return static_cast<uint8_t>(Utils::LenientHexValue(digits.toStdString()) & 0xFF);
}

// --- reads ---

void frmBasic::ReadInto(BitRegisterView* view) {
  int16_t value = 0;
  const bool ok =
      ReadRegister(kRegName, AddressFromTag(view->Tag()), value, modGlobals::DeviceAddress) == 0;
  // The entry ends with the complete value either way; the bits written on the way there
  // are never seen, so it follows once, and only when some box changed.
  writingView_ = view;
  followPending_ = false;
  view->SetValue(ok ? std::optional<int32_t>(value) : std::nullopt);
  writingView_ = nullptr;
  if (!followPending_) return;
  if (view == ctlCtrlRegister1) {
    RefreshControlHex();
  } else if (view == ctlDACRegisterVolt) {
    OnDACViewChange(view, txtVoltDAC);
  } else if (view == ctlDACRegisterCurr) {
    OnDACViewChange(view, txtCurrDAC);
  } else if (view == ctlDACRegisterIpCurr) {
    OnDACViewChange(view, txtIpCurrDAC);
  }
}

void frmBasic::ReadStatusRegister() {
  int16_t value = 0;
  if (ReadRegister(kRegName, AddressFromTag(ctlStatRegister1->Tag()), value,
                   modGlobals::DeviceAddress) == 0) {
    ctlStatRegister1->SetValue(value);
    lblStatRegisterHex->setText(QStringLiteral("Hex value = ") +
                                Hex4(static_cast<uint16_t>(value)));
  } else {
    ctlStatRegister1->SetValue(std::nullopt);
    lblStatRegisterHex->setText(QString());
  }
}

void frmBasic::ReadControlRegister() { ReadInto(ctlCtrlRegister1); }
void frmBasic::ReadVoltDAC() { ReadInto(ctlDACRegisterVolt); }
void frmBasic::ReadIpCurrDAC() { ReadInto(ctlDACRegisterIpCurr); }
void frmBasic::ReadCurrDAC() { ReadInto(ctlDACRegisterCurr); }

void frmBasic::ReadAllRegisters() {
  ReadStatusRegister();
  ReadControlRegister();
  ReadVoltDAC();
  ReadIpCurrDAC();
  ReadCurrDAC();
}

void frmBasic::RefreshControlHex() {
  if (writingView_ == ctlCtrlRegister1) {
    followPending_ = true;
    return;
  }
  const std::optional<int32_t> v = ctlCtrlRegister1->Value();
  txtCtrlRegisterHex->setText(v ? Hex4(static_cast<uint32_t>(*v)) : QString());
}

// --- writes ---

void frmBasic::WriteControlRegister() {
  const QString text = txtCtrlRegisterHex->text();
  std::string digits = text.toStdString();
  int significant = 0;
  // Write All sends the entry as it stands, so text that is not a hexadecimal number (or
  // too long for 32 bits) is refused here rather than written as something else.
  const bool hex = Utils::IsHexString(digits) && !digits.empty();
  const uint32_t value = hex ? Utils::LenientHexValue(digits, &significant) : 0;
  if (text.isEmpty() || !hex || significant > 8) {
    MsgBox("No valid value specified for Control Register!");
    return;
  }
  const int16_t word = UIntToInt(static_cast<int32_t>(value));
  if (WriteRegister(kRegName, AddressFromTag(ctlCtrlRegister1->Tag()), word,
                    modGlobals::DeviceAddress) == 0 &&
      modGlobals::VerifyWrite) {
    const RegisterAccess::SourceScope tag(registers_, recording::AccessSource::kVerifyReadBack);
    ReadControlRegister();
  }
}

void frmBasic::WriteDAC(QLineEdit* dacEntry, BitRegisterView* view, const char* what,
                        void (frmBasic::*readBack)()) {
  const QString text = dacEntry->text().trimmed();
  if (text.isEmpty()) {
    MsgBox(std::string("No valid value specified for ") + what + "!");
    return;
  }
  double v = Utils::RoundHalfEven(NumericValue(text));
  // The filter keeps the entry in range; a value pasted past it is held to the register width.
  if (!(v >= 0)) v = 0;
  if (v > 65535) v = 65535;
  const int16_t word = UIntToInt(static_cast<int32_t>(v));
  if (WriteRegister(kRegName, AddressFromTag(view->Tag()), word, modGlobals::DeviceAddress) ==
          0 &&
      modGlobals::VerifyWrite) {
    const RegisterAccess::SourceScope tag(registers_, recording::AccessSource::kVerifyReadBack);
    (this->*readBack)();
  }
}

void frmBasic::WriteVoltDAC() {
  WriteDAC(txtVoltDAC, ctlDACRegisterVolt, "Voltage", &frmBasic::ReadVoltDAC);
}
void frmBasic::WriteCurrDAC() {
  WriteDAC(txtCurrDAC, ctlDACRegisterCurr, "Charge Current", &frmBasic::ReadCurrDAC);
}
void frmBasic::WriteIpCurrDAC() {
  WriteDAC(txtIpCurrDAC, ctlDACRegisterIpCurr, "Input Current", &frmBasic::ReadIpCurrDAC);
}

void frmBasic::WriteAllRegisters() {
  const bool verify = modGlobals::VerifyWrite;
  modGlobals::VerifyWrite = false;
  WriteControlRegister();
  WriteVoltDAC();
  WriteCurrDAC();
  WriteIpCurrDAC();
  if (verify) {
    const RegisterAccess::SourceScope tag(registers_, recording::AccessSource::kVerifyReadBack);
    ReadAllRegisters();
    modGlobals::VerifyWrite = true;
  }
}

// --- DAC entries ---

void frmBasic::AllowOnlyNumeric(QLineEdit* txt) {
  const QString text = txt->text();
  if (text.isEmpty()) return;
  const std::string s = text.toStdString();
  const std::optional<double> v = Utils::ParseDecimal(s);
  if (!v) {
    txt->setText(QString::number(Utils::LeadingNumber(s), 'g', 15));
    txt->setCursorPosition(static_cast<int>(txt->text().size()));
    return;
  }
  if (*v > 65535) {
    txt->setText(QStringLiteral("65535"));
  } else if (*v < 0) {
    txt->setText(QStringLiteral("0"));
  }
}

void frmBasic::OnDACViewChange(BitRegisterView* view, QLineEdit* dacEntry) {
  if (writingView_ == view) {
    followPending_ = true;
    return;
  }
  const std::optional<int32_t> v = view->Value();
  dacEntry->setText(v ? QString::number(*v) : QString());
}

// --- settle timer, scan, bus mode ---

void frmBasic::RestartTimer2() {
  timer2_->stop();
  timer2_->start(g_settleMs);
}

std::optional<int> frmBasic::ScanPeriodValue() const {
  const std::optional<double> v = Utils::ParseDecimal(ScanPeriod->text().toStdString());
  if (!v) return std::nullopt;
  const double r = Utils::RoundHalfEven(*v);
  if (!(r >= 0 && r <= 32767)) return std::nullopt;
  return static_cast<int>(r);
}

std::optional<int16_t> frmBasic::DeviceAddressValue() const {
  int significant = 0;
  const uint32_t v = Utils::LenientHexValue(txtDevAddr->text().toStdString(), &significant);
  if (significant > 4) return std::nullopt;
  return static_cast<int16_t>(static_cast<uint16_t>(v));
}

void frmBasic::ColourSettleBoxes() {
  if (ScanPeriodValue()) {
    ClearBase(ScanPeriod);
  } else {
    PaintBase(ScanPeriod, kOutOfRange);
  }
  if (DeviceAddressValue()) {
    ClearBase(txtDevAddr);
  } else {
    PaintBase(txtDevAddr, kOutOfRange);
  }
}

void frmBasic::Timer2_Timer() {
  // A bad entry keeps what was in force; the box shows red meanwhile.
  if (const std::optional<int> period = ScanPeriodValue()) SetTimer1Interval(*period);
  if (const std::optional<int16_t> address = DeviceAddressValue()) {
    modGlobals::DeviceAddress = *address;
  }
  timer2_->stop();
}

void frmBasic::SetTimer1Interval(int ms) {
  if (ms == timer1Interval_) return;
  timer1Interval_ = ms;
  UpdateTimer1();
}

void frmBasic::UpdateTimer1() {
  // A period of 0 means no ticks at all (a zero-interval timer would fire continuously).
  if (timer1Enabled_ && timer1Interval_ > 0) {
    if (!timer1_->IsActive() || timer1_->Period() != timer1Interval_) {
      // The first tick one period from now, or later while a failed tick's hold-off runs.
      int first = timer1Interval_;
      if (holdOffUntil_) {
        first = static_cast<int>(std::max<int64_t>(first, *holdOffUntil_ - timer1_->NowMs()));
      }
      timer1_->Start(first, timer1Interval_);
    }
  } else {
    timer1_->Stop();
  }
}

void frmBasic::Timer1_Timer() {
  // A tick never starts inside another one or inside any register access (whose failure box
  // keeps the timers running in its own event loop), nor while a modal box is open: the user
  // sees one message at a time.
  if (inTick_ || opDepth_ > 0 || QApplication::activeModalWidget()) return;
  inTick_ = true;
  failureClosedAt_.reset();
  {
    const RegisterAccess::SourceScope tag(registers_, recording::AccessSource::kScanTick, true);
    ReadAllRegisters();
  }
  if (failureClosedAt_) {
    // Give the user time to reach the check box before the next tick's message appears. A
    // scan switched off meanwhile stays off.
    holdOffUntil_ = *failureClosedAt_ + std::max(kScanHoldOffMs, timer1Interval_);
    if (timer1_->IsActive()) {
      const int64_t wait = std::max<int64_t>(1, *holdOffUntil_ - timer1_->NowMs());
      timer1_->Start(static_cast<int>(wait), timer1Interval_);
    }
  } else {
    holdOffUntil_.reset();
  }
  QCoreApplication::processEvents();
  inTick_ = false;
}

void frmBasic::ToggleCommMode() {
  if (lblCommMode->text().compare(QStringLiteral("I2C"), Qt::CaseInsensitive) == 0) {
    lblCommMode->setText(QStringLiteral("SMB"));
    modGlobals::I2CMode = false;
  } else {
    lblCommMode->setText(QStringLiteral("I2C"));
    modGlobals::I2CMode = true;
  }
}

// --- auxiliary windows ---

void frmBasic::ShowAbout() {
  frmSplash* about = frmSplash::Instance();
  // Only an About window of this one is brought forward; a splash still around is not one.
  if (about && about->parentWidget() != this) {
    delete about;
    about = nullptr;
  }
  if (!about) about = new frmSplash(this);
  about->show();
  about->raise();
  about->activateWindow();
  Zentio1_->ShowAboutBox();
}

void frmBasic::ShowLegend() {
  if (!legend_) legend_ = new frmLegend(this);
  // The outer width of a window is known once it is shown, so place it after showing.
  legend_->show();
  const QRect main = frameGeometry();
  legend_->move(main.left() + main.width() - legend_->frameGeometry().width(), main.top());
  legend_->SetBitHiColor(modGlobals::BitHi);
  legend_->SetBitLoColor(modGlobals::BitLo);
  legend_->SetBitUnknownColor(modGlobals::BitUnknown);
  legend_->raise();
  legend_->activateWindow();
}

// The panel's controls and their connections.
#include "panels/MainPanel.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QVBoxLayout>
#include <string_view>

#include "registers/RegisterTable.h"
#include "foundation/Settings.h"
#include "foundation/Text.h"
#include "foundation/Utils.h"
#include "views/ClickableLabel.h"
#include "views/FrameBox.h"
#include "views/KeptLineEdit.h"
#include "views/ctlCtrlRegister.h"
#include "views/ctlDACRegister.h"
#include "views/ctlStatRegister.h"

namespace {

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

}  // namespace

MainPanel::MainPanel(RegisterAccess& registers, std::unique_ptr<ScanTimer> scanTimer,
                     QWidget* parent)
    : QWidget(parent), registers_(registers) {
  setObjectName(QStringLiteral("MainPanel"));
  timer1_ = scanTimer ? scanTimer.release() : new QtScanTimer;
  timer1_->setParent(this);
  timer1_->setObjectName(QStringLiteral("Timer1"));
  BuildControls();
  ConnectHandlers();
}

void MainPanel::BuildControls() {
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
    auto* e = new KeptLineEdit(this);
    e->setObjectName(QString::fromLatin1(name));
    if (maxLength > 0) e->setMaxLength(maxLength);
    e->setFixedWidth(width);
    return e;
  };
  const int digitWidth = fontMetrics().horizontalAdvance(QStringLiteral("0"));
  const RegisterTable::Register& status = *RegisterTable::Find(RegisterTable::kStatus);
  const RegisterTable::Register& control = *RegisterTable::Find(RegisterTable::kControl);

  // Status register.
  auto* fraStatus = new FrameBox(FromView(status.mainCaption), this);
  fraStatus->setObjectName(QStringLiteral("fraStatus"));
  ctlStatRegister1 = new ctlStatRegister(fraStatus);
  ctlStatRegister1->setObjectName(QStringLiteral("ctlStatRegister1"));
  ctlStatRegister1->SetTag(QString::fromStdString(RegisterTable::Tag(status)));
  cmdReadStat = button("cmdReadStat", "Read");
  lblStatRegisterHex = label("lblStatRegisterHex", "");
  lblStatRegisterHex->setMinimumWidth(
      fontMetrics().horizontalAdvance(QStringLiteral("Hex value = FFFF")) + 8);
  {
    auto* g = new QGridLayout(fraStatus);
    g->addWidget(ctlStatRegister1, 0, 0, 1, 2);
    g->addWidget(cmdReadStat, 0, 2, Qt::AlignVCenter);
    g->addWidget(lblStatRegisterHex, 1, 0);
    g->setColumnStretch(1, 1);
  }

  // Control register.
  auto* fraControl = new FrameBox(FromView(control.mainCaption), this);
  fraControl->setObjectName(QStringLiteral("fraControl"));
  ctlCtrlRegister1 = new ctlCtrlRegister(fraControl);
  ctlCtrlRegister1->setObjectName(QStringLiteral("ctlCtrlRegister1"));
  ctlCtrlRegister1->SetTag(QString::fromStdString(RegisterTable::Tag(control)));
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
  auto* fraDAC = new FrameBox(QStringLiteral("REGISTERS (DAC)"), this);
  fraDAC->setObjectName(QStringLiteral("fraDAC"));
  for (DacRow& row : dac_) {
    row.view = new ctlDACRegister(fraDAC);
    row.view->setObjectName(QString::fromLatin1(row.viewName));
    row.view->SetTag(QString::fromStdString(RegisterTable::Tag(*RegisterTable::Find(row.address))));
    row.read = button(row.readName, "&Read");
    row.entry = entry(row.entryName, 5, digitWidth * 7 + 12);
    row.write = button(row.writeName, "&Write");
  }
  BuildDacFrame(fraDAC);

  // Scan, address, bus mode and the register commands.
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

  timer2_ = new QTimer(this);
  timer2_->setObjectName(QStringLiteral("Timer2"));

  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(0, 0, 0, 0);
  root->addWidget(fraStatus);
  root->addWidget(fraControl);
  root->addWidget(fraDAC);
  commandRow_ = new QHBoxLayout;
  commandRow_->addWidget(ContinuousScan);
  commandRow_->addSpacing(12);
  commandRow_->addWidget(label(nullptr, "Scan Period (msec)"));
  commandRow_->addWidget(ScanPeriod);
  commandRow_->addSpacing(24);
  commandRow_->addWidget(lblDevAddr);
  commandRow_->addWidget(txtDevAddr);
  commandRow_->addSpacing(12);
  commandRow_->addWidget(lblCommMode);
  commandRow_->addStretch(1);
  commandRow_->addWidget(cmdReadAll);
  commandRow_->addWidget(cmdWriteAll);
  root->addLayout(commandRow_);
}

void MainPanel::BuildDacFrame(QWidget* fraDAC) {
  auto label = [fraDAC](QString caption) {
    auto* l = new QLabel(caption, fraDAC);
    l->setTextFormat(Qt::PlainText);
    return l;
  };
  auto* g = new QGridLayout(fraDAC);
  g->addWidget(label(QStringLiteral("Decimal Value to write")), 0, 3, 1, 3);
  int line = 1;
  for (const DacRow& row : dac_) {
    const RegisterTable::Register& r = *RegisterTable::Find(row.address);
    g->addWidget(label(FromView(r.mainCaption)), line, 0, Qt::AlignBottom);
    g->addWidget(row.view, line, 1);
    g->addWidget(row.read, line, 2, Qt::AlignBottom);
    g->addWidget(row.entry, line, 3, Qt::AlignBottom);
    g->addWidget(label(FromView(r.dac->unit)), line, 4, Qt::AlignBottom);
    g->addWidget(row.write, line, 5, Qt::AlignBottom);
    // Its line is kept while empty, so that the window does not change size as a note comes.
    QLabel* note = label(QString());
    note->setObjectName(QStringLiteral("lbl%1Note").arg(QString::fromLatin1(row.entryName + 3)));
    note->setFixedHeight(note->fontMetrics().height());
    dacNotes_[static_cast<size_t>(&row - dac_.data())] = note;
    g->addWidget(note, line + 1, 3, 1, 4, Qt::AlignTop);
    line += 2;
    // The DAC bits take the test-mode window's names.
    for (int bit = 0; bit < 16; ++bit)
      row.view->SetBitName(bit, FromView(RegisterTable::TrimBitName(r, bit)));
    row.entry->setToolTip(DacToolTip(r));
  }
  g->setColumnStretch(6, 1);
}

void MainPanel::ConnectHandlers() {
  connect(cmdReadStat, &QPushButton::clicked, this, &MainPanel::ReadStatusRegister);
  connect(cmdReadCtrlReg, &QPushButton::clicked, this, &MainPanel::ReadControlRegister);
  connect(dac_[kVolt].read, &QPushButton::clicked, this, &MainPanel::ReadVoltDAC);
  connect(dac_[kCurr].read, &QPushButton::clicked, this, &MainPanel::ReadCurrDAC);
  connect(dac_[kIpCurr].read, &QPushButton::clicked, this, &MainPanel::ReadIpCurrDAC);
  connect(cmdReadAll, &QPushButton::clicked, this, &MainPanel::ReadAllRegisters);
  connect(cmdWriteAll, &QPushButton::clicked, this, &MainPanel::WriteAllRegisters);
  connect(dac_[kVolt].write, &QPushButton::clicked, this, &MainPanel::WriteVoltDAC);
  connect(dac_[kCurr].write, &QPushButton::clicked, this, &MainPanel::WriteCurrDAC);
  connect(dac_[kIpCurr].write, &QPushButton::clicked, this, &MainPanel::WriteIpCurrDAC);
  connect(WriteControlReg, &QPushButton::clicked, this, [this] {
    // An empty entry stays empty, so the write below refuses it rather than sending 0.
    const std::string text = txtCtrlRegisterHex->text().toStdString();
    if (!text.empty())
      txtCtrlRegisterHex->setText(
          QString::fromStdString(Text::Hex(Utils::LenientHexValue(text), 4)));
    WriteControlRegister();
  });
  connect(ctlCtrlRegister1, &BitRegisterView::Change, this, &MainPanel::RefreshControlHex);
  for (const DacRow& row : dac_) {
    connect(row.view, &BitRegisterView::Change, this, [this, &row] { OnDACViewChange(row); });
    connect(row.entry, &QLineEdit::textChanged, this, [this, &row] { OnDACEntryChange(row); });
  }
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
  connect(lblCommMode, &ClickableLabel::clicked, this, &MainPanel::ToggleCommMode);
  connect(timer1_, &ScanTimer::Tick, this, &MainPanel::Timer1_Timer);
  connect(timer2_, &QTimer::timeout, this, &MainPanel::Timer2_Timer);
}

void MainPanel::Makerk5191() { ctlStatRegister1->Makerk5191(); }

void MainPanel::HandColoursToViews() {
  using namespace modGlobals;
  ctlStatRegister1->SetBitHiColor(BitHi);
  ctlStatRegister1->SetBitLoColor(BitLo);
  ctlStatRegister1->SetBitUnknownColor(BitUnknown);
  for (BitRegisterView* v : {static_cast<BitRegisterView*>(ctlCtrlRegister1),
                             static_cast<BitRegisterView*>(dac_[kCurr].view),
                             static_cast<BitRegisterView*>(dac_[kIpCurr].view),
                             static_cast<BitRegisterView*>(dac_[kVolt].view)}) {
    v->SetBitHiColor(BitHi);
    v->SetBitLoColor(BitLo);
    v->SetBitUnknownColor(BitUnknown);
  }
}

void MainPanel::ShowCommSettings() {
  lblCommMode->setText(modGlobals::I2CMode ? QStringLiteral("I2C") : QStringLiteral("SMB"));
  txtDevAddr->setText(
      QString::fromStdString(Text::Hex(static_cast<uint16_t>(modGlobals::DeviceAddress))));
}

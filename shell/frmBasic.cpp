#include "shell/frmBasic.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <iostream>

#include "adapter/frmUSB.h"
#include "dialogs/frmLegend.h"
#include "dialogs/frmSplash.h"
#include "drivers/Drivers.h"
#include "monitor/Monitor.h"
#include "panels/frmTrim.h"
#include "foundation/CommandLine.h"
#include "foundation/Messages.h"
#include "foundation/Settings.h"
#include "foundation/Version.h"
#include "views/BringForward.h"
#include "views/WindowPlacement.h"

namespace {
frmBasic* g_current = nullptr;
}  // namespace

frmBasic* frmBasic::Current() { return g_current; }

frmLegend* frmBasic::Legend() const { return legend_.data(); }

frmBasic::frmBasic(QWidget* parent, std::unique_ptr<ScanTimer> scanTimer) : QWidget(parent) {
  g_current = this;
  WindowPlacement::SetMainWindow(this);  // no other window opens over it
  setObjectName(QStringLiteral("frmBasic"));
  setWindowTitle(QString::fromLatin1(kAppTitle));
  Zentio1_ = frmUSB::CreateControl();
  BuildControls(std::move(scanTimer));
  ConnectHandlers();
}

frmBasic::~frmBasic() {
  if (g_current == this) g_current = nullptr;
}

void frmBasic::SetMonitor(std::unique_ptr<monitor::Monitor> monitor) {
  monitor_ = std::move(monitor);
  if (!monitor_) return;
  monitor_->SetScanPeriod([this] { return panel_->Timer1Interval(); });
  // After the panel's own tick (connected first): the instruments read beside the registers.
  connect(panel_->Timer1(), &ScanTimer::Tick, monitor_.get(), &monitor::Monitor::OnScanTick);
  int at = bottomRow_->indexOf(cmdAbout) + 1;
  for (QWidget* w : monitor_->Controls()) bottomRow_->insertWidget(at++, w);
}

void frmBasic::BuildControls(std::unique_ptr<ScanTimer> scanTimer) {
  auto button = [this](const char* name, const char* caption) {
    auto* b = new QPushButton(QString::fromUtf8(caption), this);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    return b;
  };
  // Created first: its controls come first in the tab order.
  panel_ = new MainPanel(registers_, std::move(scanTimer), this);
  cmdLegend = button("cmdLegend", "&Legend...");
  cmdAbout = button("cmdAbout", "&About...");
  cmdTrimRegs = button("cmdTrimRegs", "Trim Registers...");
  cmdTrimRegs->setVisible(false);
  cmdTrimRegs->setEnabled(false);
  LblVer = new QLabel(QStringLiteral("Ver"), this);
  LblVer->setObjectName(QStringLiteral("LblVer"));
  LblVer->setTextFormat(Qt::PlainText);

  auto* root = new QVBoxLayout(this);
  root->addWidget(panel_);
  // The test-mode command sits after Write All, in the panel's command row.
  panel_->CommandRow()->addWidget(cmdTrimRegs);
  bottomRow_ = new QHBoxLayout;
  bottomRow_->addWidget(cmdLegend);
  bottomRow_->addWidget(cmdAbout);
  bottomRow_->addStretch(1);
  bottomRow_->addWidget(LblVer);
  root->addLayout(bottomRow_);
  root->setSizeConstraint(QLayout::SetMinimumSize);
}

void frmBasic::ConnectHandlers() {
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
  panel_->HandColoursToViews();
  Settings::LoadCommSettings();
  panel_->ShowCommSettings();
  // Hidden and disabled unless the settings file asks for the test-mode window.
  if (Settings::GetInt("Settings", "ShowTrimRegisters", 0) != 0) {
    cmdTrimRegs->setVisible(true);
    cmdTrimRegs->setEnabled(true);
  }
}

void frmBasic::CommandLineProcessing(const std::string& sArg) {
  if (!CommandLine::IsRk5191(sArg)) return;
  setWindowTitle(QStringLiteral("rk5191 Korvo"));
  panel_->Makerk5191();
}

void frmBasic::closeEvent(QCloseEvent* e) {
  Form_Unload();
  e->accept();
}

void frmBasic::Form_Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  panel_->StopTimers();
  // Windows owned by this one (About, legend) close with it.
  for (QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (w->isWindow()) w->close();
  }
  frmUSB::Get().CloseDevice();
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
  BringForward(*about);
  Zentio1_->ShowAboutBox();
}

void frmBasic::ShowLegend() {
  if (!legend_) legend_ = new frmLegend(this);
  // At the main window's top right corner, but outside it: inside, it would cover the main
  // window's own title bar buttons. Every press brings it back there.
  WindowPlacement::PlaceBeside(*legend_, this, 0, WindowPlacement::Others::kMayCover);
  legend_->SetBitHiColor(modGlobals::BitHi);
  legend_->SetBitLoColor(modGlobals::BitLo);
  legend_->SetBitUnknownColor(modGlobals::BitUnknown);
  BringForward(*legend_);
}

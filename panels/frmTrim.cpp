#include "panels/frmTrim.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

#include "monitor/TrimSnapshots.h"
#include "panels/frmSpins.h"
#include "registers/RegisterAccess.h"
#include "registers/RegisterTable.h"
#include "foundation/Messages.h"
#include "foundation/ScopedVerifyWriteOff.h"
#include "foundation/Settings.h"
#include "foundation/Text.h"
#include "foundation/Utils.h"
#include "views/BringForward.h"
#include "views/WindowPlacement.h"
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

// The register table's rows in order; only the height of the bit labels is this window's own
// (row 1's names are short).
int BitLabelHeight(int row) { return row == 1 ? 420 : 600; }

const RegisterTable::Register& RowRegister(int row) { return RegisterTable::All()[row]; }

uint8_t AddressOf(const ctlTrimRegister& view) {
  return RegisterTable::AddressFromTag(view.Tag().toStdString());
}

QString FromView(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QString Indexed(const char* base, int i) {
  const QString b = QString::fromLatin1(base);
  return b.back().isDigit() ? QStringLiteral("%1_%2").arg(b).arg(i) : b + QString::number(i);
}

}  // namespace

frmTrim* frmTrim::Open(RegisterAccess& access, const QWidget* beside) {
  if (!g_instance) {
    g_instance = new frmTrim(access);
    g_instance->PlaceBeside(beside);
  }
  BringForward(*g_instance);
  return g_instance;
}

frmTrim* frmTrim::Instance() { return g_instance; }

void frmTrim::CloseInstance() {
  if (g_instance) g_instance->close();
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
    const RegisterTable::Register& d = RowRegister(i);
    const bool readOnly = !d.trimWritable;
    Row& r = rows_[i];
    r.frame = new QGroupBox(content);
    r.frame->setObjectName(Indexed("Frame1", i));

    r.view = new ctlTrimRegister(r.frame);
    r.view->setObjectName(Indexed("ctlTrimReg", i));
    r.view->SetTag(QString::fromStdString(RegisterTable::Tag(d)));
    r.view->SetBitWidth(kBitWidth);
    r.view->SetBitLabelHeight(BitLabelHeight(i));
    r.view->move(Twips::ToPxX(content, kViewLeft), Twips::ToPxY(content, kViewTop));

    r.title = new QLabel(FromView(d.trimTitle), r.frame);
    r.title->setObjectName(Indexed("Label1", i));
    r.title->setWordWrap(true);
    QFont bold = r.title->font();
    bold.setBold(true);
    r.title->setFont(bold);

    r.hexLabel = new QLabel(
        readOnly ? QStringLiteral("Hex Value") : QStringLiteral("Hex Value (for write)"), r.frame);
    r.hexLabel->setObjectName(Indexed("lblHex", i));
    r.hex = new QLineEdit(r.frame);
    r.hex->setObjectName(Indexed("txtHexVal", i));
    r.hex->setMaxLength(4);
    r.read = button(r.frame, Indexed("cmdRead", i), "&Read");
    r.write = button(r.frame, Indexed("cmdWrite", i), "&Write");
    if (readOnly) {
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
          [this] { monitor::SaveSnapshot(*this, RowViews(), access_); });
  connect(cmdCompare, &QPushButton::clicked, this,
          [this] { monitor::CompareWithSnapshot(*this, RowViews(), access_); });
}

std::array<ctlTrimRegister*, frmTrim::kRows> frmTrim::RowViews() const {
  std::array<ctlTrimRegister*, kRows> views{};
  for (int i = 0; i < kRows; ++i) views[i] = rows_[i].view;
  return views;
}

void frmTrim::PlaceBeside(const QWidget* main) {
  // As large as its rows, in the room the screen gives beside the main window.
  resize(scroll_->widget()->size());
  WindowPlacement::PlaceBeside(*this, main,
                               style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this));
}

void frmTrim::Form_Load() {
  for (Row& r : rows_) {
    r.view->SetBitHiColor(modGlobals::BitHi);
    r.view->SetBitLoColor(modGlobals::BitLo);
    r.view->SetBitUnknownColor(modGlobals::BitUnknown);
  }
  for (int i = 0; i < kRows; ++i)
    rows_[i].view->SetBitDescription(FromView(RowRegister(i).trimBitNames));
}

void frmTrim::cmdRead_Click(int i) {
  Row& r = rows_[i];
  int16_t value = 0;
  const int32_t status = access_.ReadRegister(r.title->text().toStdString(), AddressOf(*r.view),
                                              value, modGlobals::DeviceAddress);
  // The failure has been reported; the row becomes unknown. The hex box follows via Change.
  if (status != 0)
    r.view->SetValue(std::nullopt);
  else
    r.view->SetValue(value);
}

void frmTrim::ctlTrimReg_Change(int i) {
  Row& r = rows_[i];
  if (const std::optional<int32_t> v = r.view->Value())
    r.hex->setText(QString::fromStdString(Text::Hex(static_cast<uint32_t>(*v), 4)));
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
  const int16_t value =
      Utils::UIntToInt(static_cast<int32_t>(Utils::LenientHexValue(text) & 0xFFFF));
  const int32_t status =
      access_.WriteRegister(title, AddressOf(*r.view), value, modGlobals::DeviceAddress);
  if (status == 0 && modGlobals::VerifyWrite) {
    const RegisterAccess::SourceScope tag(access_, recording::AccessSource::kVerifyReadBack);
    cmdRead_Click(i);
  }
}

void frmTrim::cmdReadAll_Click() {
  for (int i = 0; i < kRows; ++i) cmdRead_Click(i);
}

void frmTrim::cmdWriteAll_Click() {
  const ScopedVerifyWriteOff verifyOff;
  for (int i = 0; i < kRows; ++i) {
    if (!rows_[i].write->isHidden()) cmdWrite_Click(i);
  }
  if (verifyOff.WasOn()) {
    const RegisterAccess::SourceScope tag(access_, recording::AccessSource::kVerifyReadBack);
    cmdReadAll_Click();
  }
}

void frmTrim::cmdSpins_Click() {
  frmSpins dialog(access_, this);
  dialog.exec();
}

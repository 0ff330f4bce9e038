#include "panels/frmSpins.h"

#include <QFont>
#include <QLabel>
#include <QPushButton>

#include "views/Twips.h"

namespace {
// Design, in twips.
constexpr int kLeft = 120;
constexpr int kButtonWidth = 1800;
constexpr int kButtonHeight = 400;
constexpr int kRowStep = 480;
constexpr int kDescLeft = kLeft + kButtonWidth + 120;
constexpr int kDescWidth = 5400;
constexpr int kTop = 600;
}  // namespace

frmSpins::frmSpins(RegisterAccess& access, QWidget* parent) : QDialog(parent), programmer_(access) {
  setObjectName(QStringLiteral("frmSpins"));
  setWindowTitle(QStringLiteral("Program Spins"));
  setModal(true);
  QFont f = font();
  f.setPointSize(8);
  setFont(f);

  auto place = [this](QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(Twips::ToRect(this, left, top, width, height));
  };

  Label1 = new QLabel(
      QStringLiteral(
          "Click on the Spin name to write the appropriate values to the trim registers."),
      this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setWordWrap(true);
  place(Label1, kLeft, 120, kDescLeft + kDescWidth - kLeft, 420);

  for (int i = 0; i < kButtons; ++i) {
    const QString caption = QString::fromUtf8(
        Spins::kButtonCaptions[i].data(), static_cast<qsizetype>(Spins::kButtonCaptions[i].size()));
    auto* b = new QPushButton(caption, this);
    b->setObjectName(QStringLiteral("cmdWriteTrim%1").arg(i));
    b->setAutoDefault(false);
    place(b, kLeft, kTop + i * kRowStep, kButtonWidth, kButtonHeight);
    buttons_[i] = b;

    auto* d = new QLabel(this);
    d->setObjectName(QStringLiteral("lblDesc%1").arg(i));
    place(d, kDescLeft, kTop + i * kRowStep, kDescWidth, kButtonHeight);
    descs_[i] = d;

    connect(b, &QPushButton::clicked, this, [this, i] { cmdWriteTrim_Click(i); });
  }

  const int burnTop = kTop + kButtons * kRowStep + 120;
  burn_ = new QPushButton(QStringLiteral("&EEBurn"), this);
  burn_->setObjectName(QStringLiteral("cmdEEBurn"));
  burn_->setAutoDefault(false);
  place(burn_, kLeft, burnTop, kButtonWidth, kButtonHeight);
  connect(burn_, &QPushButton::clicked, this, &frmSpins::cmdEEBurn_Click);

  setFixedSize(
      Twips::ToRect(this, 0, 0, kDescLeft + kDescWidth + 120, burnTop + kButtonHeight + 240)
          .size());
  Form_Load();
}

void frmSpins::Form_Load() {
  for (int i = 0; i < kButtons; ++i)
    descs_[i]->setText(QString::fromStdString(Spins::Description(Spins::kButtonCaptions[i])));
}

void frmSpins::SetBusy(bool busy) {
  busy_ = busy;
  for (QPushButton* b : buttons_) b->setEnabled(!busy);
  burn_->setEnabled(!busy);
}

void frmSpins::cmdWriteTrim_Click(int i) {
  if (busy_) return;
  SetBusy(true);
  // The caption is the link to the preset (the fixed caption, not the button text, which a
  // platform theme may decorate with accelerators).
  programmer_.ApplySpin(Spins::kButtonCaptions[i]);
  SetBusy(false);
}

void frmSpins::cmdEEBurn_Click() {
  if (busy_) return;
  SetBusy(true);
  programmer_.BurnEeprom();
  SetBusy(false);
}

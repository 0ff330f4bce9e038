#include "dialogs/frmLegend.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>

#include "views/BitBoxes.h"

frmLegend::frmLegend(QWidget* owner) : QWidget(owner, owner ? Qt::Dialog : Qt::Window) {
  setObjectName(QStringLiteral("frmLegend"));
  setWindowTitle(QStringLiteral("Legend"));
  auto* g = new QGridLayout(this);
  g->addWidget(new QLabel(QStringLiteral("Colors for status display"), this), 0, 0, 1, 2);
  const char* meaning[3] = {"=  Low / 0", "=  Active / High / 1", "=  Unknown/Inactive"};
  const int rowOf[3] = {2, 1, 3};  // swatch 1 (high) first, then 0 (low), then 2 (unknown)
  for (int i = 0; i < 3; ++i) {
    auto* s = new QLabel(QStringLiteral("XXXX"), this);
    s->setObjectName(QStringLiteral("Label3%1").arg(i));
    s->setAlignment(Qt::AlignCenter);
    s->setFrameShape(QFrame::Box);
    s->setMinimumWidth(s->fontMetrics().horizontalAdvance(QStringLiteral("XXXX")) + 16);
    swatches_[i] = s;
    g->addWidget(s, rowOf[i], 0);
    g->addWidget(new QLabel(QString::fromLatin1(meaning[i]), this), rowOf[i], 1);
  }
  auto* check1 = new QCheckBox(this);
  check1->setObjectName(QStringLiteral("Check1"));
  check1->setChecked(true);
  auto* check2 = new QCheckBox(this);
  check2->setObjectName(QStringLiteral("Check2"));
  g->addWidget(check1, 4, 0, Qt::AlignCenter);
  g->addWidget(new QLabel(QStringLiteral("=  Selected"), this), 4, 1);
  g->addWidget(check2, 5, 0, Qt::AlignCenter);
  g->addWidget(new QLabel(QStringLiteral("=  Not Selected"), this), 5, 1);
  setFixedSize(sizeHint());
}

void frmLegend::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
    close();
    return;
  }
  QWidget::keyPressEvent(e);
}

int32_t frmLegend::BitHiColor() const { return BackgroundOf(swatches_[1]); }
void frmLegend::SetBitHiColor(int32_t c) { PaintBackground(swatches_[1], c); }
int32_t frmLegend::BitLoColor() const { return BackgroundOf(swatches_[0]); }
void frmLegend::SetBitLoColor(int32_t c) { PaintBackground(swatches_[0], c); }
int32_t frmLegend::BitUnknownColor() const { return BackgroundOf(swatches_[2]); }
void frmLegend::SetBitUnknownColor(int32_t c) { PaintBackground(swatches_[2], c); }

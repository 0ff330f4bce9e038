#include "views/BitBoxes.h"

#include <QFocusEvent>
#include <QFont>
#include <QMetaObject>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "foundation/Utils.h"

QColor ColorFromBgr(int32_t bgr) {
  return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

int32_t BgrFromColor(const QColor& c) {
  return static_cast<int32_t>(c.red() | (c.green() << 8) | (c.blue() << 16));
}

namespace {

// Relative luminance of an sRGB colour as WCAG 2 defines it.
double Luminance(int32_t bgr) {
  auto linear = [](int channel) {
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * linear(bgr & 0xFF) + 0.7152 * linear((bgr >> 8) & 0xFF) +
         0.0722 * linear((bgr >> 16) & 0xFF);
}

constexpr int32_t kBlack = 0x000000;
constexpr int32_t kWhite = 0xFFFFFF;

}  // namespace

double ContrastRatio(int32_t bgrA, int32_t bgrB) {
  const double a = Luminance(bgrA), b = Luminance(bgrB);
  return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

int32_t ContrastingTextColor(int32_t backgroundBgr) {
  // A scan tick asks this for up to 176 cells, nearly always of the same two or three
  // colours: the last answers are kept, sparing the powers of the luminance.
  struct Answer {
    bool kept = false;
    int32_t background = 0, text = 0;
  };
  thread_local std::array<Answer, 4> answers;
  thread_local size_t next = 0;
  for (const Answer& a : answers) {
    if (a.kept && a.background == backgroundBgr) return a.text;
  }
  const int32_t text = ContrastRatio(backgroundBgr, kBlack) >= ContrastRatio(backgroundBgr, kWhite)
                           ? kBlack
                           : kWhite;
  answers[next] = {true, backgroundBgr, text};
  next = (next + 1) % answers.size();
  return text;
}

QString BitToolTip(int bit, const QString& name) {
  const QString number = QStringLiteral("Bit %1").arg(bit);
  return name.isEmpty() ? number : number + QStringLiteral(": ") + name;
}

bool PictureCache::Paint(const QRect& area) {
  if (rendering_ || !owner_->Cacheable() || widget_->size().isEmpty()) return false;
  const Key key = owner_->CacheKey();
  for (const auto& [k, picture] : entries_) {
    if (k == key) {
      const qreal dpr = picture.devicePixelRatio();
      const QRectF source(QPointF(area.topLeft()) * dpr, QSizeF(area.size()) * dpr);
      QPainter p(widget_);
      p.drawPixmap(QRectF(area), picture, source);
      return true;
    }
  }
  Prepare();
  return false;
}

void PictureCache::Prepare() {
  if (canvas_) {
    // The canvas renders what it lacks when it paints.
    if (!rendering_ && !widget_->updatesEnabled()) canvas_->Dirty(widget_);
    return;
  }
  if (pending_ || rendering_) return;
  pending_ = true;
  QMetaObject::invokeMethod(
      widget_,
      [this] {
        pending_ = false;
        Store();
      },
      Qt::QueuedConnection);
}

QPixmap PictureCache::Render() {
  const qreal dpr = widget_->devicePixelRatioF();
  QPixmap picture(widget_->size() * dpr);
  picture.setDevicePixelRatio(dpr);
  picture.fill(owner_->Ground());
  rendering_ = true;
  widget_->render(&picture, QPoint(), QRegion(), QWidget::RenderFlags());
  rendering_ = false;
  return picture;
}

void PictureCache::Store() {
  if (!widget_->isVisible() || widget_->size().isEmpty() || !owner_->Cacheable()) return;
  const Key key = owner_->CacheKey();
  for (const auto& entry : entries_) {
    if (entry.first == key) return;
  }
  QPixmap picture = Render();
  if (entries_.size() >= kEntries) entries_.erase(entries_.begin());
  entries_.emplace_back(key, std::move(picture));
}

QPixmap PictureCache::Picture() {
  if (!widget_->isVisible() || !owner_->Cacheable()) return Render();
  const Key key = owner_->CacheKey();
  for (const auto& [k, picture] : entries_) {
    if (k == key) return picture;
  }
  QPixmap picture = Render();
  if (entries_.size() >= kEntries) entries_.erase(entries_.begin());
  entries_.emplace_back(key, picture);
  return picture;
}

void CellCanvas::Adopt(QWidget* child, PictureCache& cache) {
  cache.SetCanvas(this);
  children_.emplace_back(child, &cache);
  // The view paints over what lies beneath the cell, so the cell must not hide it from the view.
  child->setAttribute(Qt::WA_OpaquePaintEvent, false);
  SetSelfPainting(child, false);
}

void CellCanvas::SetSelfPainting(QWidget* child, bool self) {
  if (child->updatesEnabled() == self) return;
  // A widget with updates off is left out of Qt's painting; enabling them repaints it.
  child->setUpdatesEnabled(self);
  if (!self) Dirty(child);
}

void CellCanvas::Dirty(const QWidget* child) {
  dirty_ |= child->geometry();
  if (pending_) return;
  pending_ = true;
  QMetaObject::invokeMethod(
      view_, [this] { Flush(); }, Qt::QueuedConnection);
}

void CellCanvas::Flush() {
  pending_ = false;
  const QRect area = std::exchange(dirty_, QRect());
  if (!area.isEmpty()) view_->update(area);
}

void CellCanvas::Paint(QPaintEvent* e) {
  const QRect area = e->rect();
  QPainter p(view_);
  for (const auto& [child, cache] : children_) {
    if (child->isHidden() || child->updatesEnabled()) continue;
    const QRect g = child->geometry();
    if (g.isEmpty() || !g.intersects(area)) continue;
    p.drawPixmap(g.topLeft(), cache->Picture());
  }
}

BitCell::BitCell(const QString& text, QWidget* parent) : QLabel(text, parent) {}

PictureCache::Key BitCell::CacheKey() const {
  return {text(), background_.rgba(), text_.rgba(), isEnabled(), 0, size()};
}

QColor BitCell::Ground() const {
  return background_.isValid() && background_.alpha() == 255 ? background_
                                                             : QColor(Qt::transparent);
}

void BitCell::changeEvent(QEvent* e) {
  // The palette reaches the picture only through the text colour, which is in the key: a
  // cell whose text turns from black to white on every tick keeps both pictures.
  if (e->type() != QEvent::PaletteChange) cache_.Clear();
  QLabel::changeEvent(e);
  if (cache_.Canvas()) cache_.Prepare();
}

void BitCell::ApplyTextColor() {
  if (!text_.isValid() || palette().color(QPalette::WindowText) == text_) return;
  QPalette p = palette();
  p.setColor(QPalette::WindowText, text_);
  setPalette(p);
}

void BitCell::SetBackground(const QColor& c) {
  if (c == background_) return;
  background_ = c;
  // The cell fills all of itself: what lies behind it need not be painted first (a canvas
  // paints it from its view, over what lies beneath).
  setAttribute(Qt::WA_OpaquePaintEvent, !cache_.Canvas() && c.isValid() && c.alpha() == 255);
  text_ = ColorFromBgr(ContrastingTextColor(BgrFromColor(c)));
  ApplyTextColor();
  cache_.Prepare();
  update();
}

void BitCell::SetCaption(const QString& text) {
  if (text == this->text()) return;
  setText(text);
  cache_.Prepare();
}

void BitCell::paintEvent(QPaintEvent* e) {
  if (cache_.Paint(e->rect())) return;
  if (background_.isValid()) {
    QPainter p(this);
    p.fillRect(rect(), background_);
  }
  QLabel::paintEvent(e);
}

void PaintBackground(QWidget* label, int32_t bgr) {
  const QColor c = ColorFromBgr(bgr);
  if (auto* cell = qobject_cast<BitCell*>(label)) {
    cell->SetBackground(c);
    return;
  }
  if (label->autoFillBackground() && label->palette().color(QPalette::Window) == c) return;
  QPalette p = label->palette();
  p.setColor(QPalette::Window, c);
  p.setColor(QPalette::WindowText, ColorFromBgr(ContrastingTextColor(bgr)));
  label->setPalette(p);
  label->setAutoFillBackground(true);
}

void PaintBase(QWidget* box, int32_t bgr) {
  const QColor c = ColorFromBgr(bgr);
  if (box->testAttribute(Qt::WA_SetPalette) && box->palette().color(QPalette::Base) == c) return;
  QPalette p = box->palette();
  p.setColor(QPalette::Base, c);
  p.setColor(QPalette::Text, ColorFromBgr(ContrastingTextColor(bgr)));
  box->setPalette(p);
}

int32_t BackgroundOf(const QWidget* label) {
  if (auto* cell = qobject_cast<const BitCell*>(label)) return BgrFromColor(cell->Background());
  return BgrFromColor(label->palette().color(QPalette::Window));
}

BitBox::BitBox(QWidget* parent) : QLineEdit(parent) {
  // A box lays out its text again on every change, up to 80 of them per scan tick. Digits need
  // no shaping, which was the larger part of that cost; everything else of the font is
  // inherited as before.
  QFont f;
  f.setStyleStrategy(QFont::StyleStrategy(font().styleStrategy() | QFont::PreferNoShaping));
  setFont(f);
  ShowSelection(false);
  connect(this, &QLineEdit::selectionChanged, this, [this] { cache_.Prepare(); });
  connect(this, &QLineEdit::textChanged, this, [this] { cache_.Prepare(); });
  connect(this, &QLineEdit::cursorPositionChanged, this, [this] { cache_.Prepare(); });
}

void BitBox::SyncPainting() {
  if (CellCanvas* canvas = cache_.Canvas()) canvas->SetSelfPainting(this, !Cacheable());
}

void BitBox::enterEvent(QEnterEvent* e) {
  QLineEdit::enterEvent(e);
  SyncPainting();
}

void BitBox::leaveEvent(QEvent* e) {
  QLineEdit::leaveEvent(e);
  SyncPainting();
}

void BitBox::ShowSelection(bool show) {
  if (show) {
    setPalette(QPalette());  // the theme's own selection colours
    return;
  }
  // The selection painted as the box's ground and text: there, but not seen.
  QPalette p = palette();
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    p.setColor(group, QPalette::Highlight, p.color(group, QPalette::Base));
    p.setColor(group, QPalette::HighlightedText, p.color(group, QPalette::Text));
  }
  setPalette(p);
}

void BitBox::focusInEvent(QFocusEvent* e) {
  SyncPainting();
  ShowSelection(true);
  QLineEdit::focusInEvent(e);
  setSelection(0, 1);
}

void BitBox::focusOutEvent(QFocusEvent* e) {
  QLineEdit::focusOutEvent(e);
  ShowSelection(false);
  SyncPainting();
}

PictureCache::Key LineEditKey(const QLineEdit& e) {
  const int flags = (e.isEnabled() ? 1 : 0) | (e.isReadOnly() ? 2 : 0) | (e.hasFrame() ? 4 : 0) |
                    static_cast<int>(e.alignment()) << 3;
  return {e.text(),
          static_cast<QRgb>(flags),
          static_cast<QRgb>(e.cursorPosition()),
          e.selectionStart(),
          e.selectionLength(),
          e.size(),
          e.palette().color(QPalette::Base).rgba(),
          e.palette().color(QPalette::Text).rgba()};
}

void BitBox::changeEvent(QEvent* e) {
  // Palette, font, style, enabled state or window activation: the pictures may be stale.
  cache_.Clear();
  QLineEdit::changeEvent(e);
  if (cache_.Canvas()) cache_.Prepare();
}

void BitBox::paintEvent(QPaintEvent* e) {
  if (!cache_.Paint(e->rect())) QLineEdit::paintEvent(e);
}

BitBoxes::BitBoxes(QWidget* parent, CellCanvas* canvas) : QObject(parent) {
  // Created from bit 15 down so that the default tab order runs from the leftmost box.
  for (int i = kBits - 1; i >= 0; --i) {
    auto* box = new BitBox(parent);
    box->setObjectName(QStringLiteral("txtBitVal%1").arg(i));
    box->setAlignment(Qt::AlignCenter);
    box->setMaxLength(2);
    boxes_[i] = box;
    if (canvas) canvas->Adopt(box, box->Pictures());
    connect(box, &QLineEdit::textChanged, this, [this, i] { OnTextChanged(i); });
  }
}

QString BitBoxes::Normalised(const QString& text) {
  const std::string s = text.toStdString();
  if (const std::optional<double> v = Utils::ParseDecimal(s)) {
    if (*v > 0) return QStringLiteral("1");
    if (text.size() >= 2) return QStringLiteral("0");
    return text;
  }
  if (!text.isEmpty()) return QStringLiteral("0");
  return text;
}

void BitBoxes::OnTextChanged(int bit) {
  QLineEdit* box = boxes_[bit];
  // Normalised text maps to itself, so one nested run is all a change can cause; the guard
  // makes that certain whatever the text.
  // "0" and "1", all a read writes, are already normal: skip the number parsing.
  const QString& current = box->text();
  const bool bitText = current.size() == 1 && (current[0] == u'0' || current[0] == u'1');
  if (depth_[bit] < 2 && !bitText) {
    const QString normal = Normalised(box->text());
    if (normal != box->text()) {
      ++depth_[bit];
      box->setText(normal);
      --depth_[bit];
    }
  }
  const QString& text = box->text();
  const uint16_t mask = static_cast<uint16_t>(1u << bit);
  const bool known = !text.isEmpty();
  const bool one = text == QLatin1String("1") || (known && text != QLatin1String("0") &&
                                                  Utils::LeadingNumber(text.toStdString()) == 1.0);
  known_ = known ? (known_ | mask) : (known_ & ~mask);
  ones_ = one ? (ones_ | mask) : (ones_ & ~mask);
  box->setSelection(0, 1);
  emit Change();
}

std::optional<int32_t> BitBoxes::Value() const {
  if (known_ != 0xFFFF) return std::nullopt;
  return ones_;
}

void BitBoxes::SetValue(std::optional<int32_t> v, const Painter& paint) {
  for (int i = 0; i < kBits; ++i) {
    if (!v) {
      boxes_[i]->setText(QString());
      if (paint) paint(i, BitState::Unknown);
      continue;
    }
    const bool set = Utils::IsBitSet(*v, static_cast<int16_t>(i));
    boxes_[i]->setText(set ? QStringLiteral("1") : QStringLiteral("0"));
    if (paint) paint(i, set ? BitState::High : BitState::Low);
  }
}

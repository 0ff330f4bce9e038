#include "monitor/BitTimeline.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <string_view>

#include "registers/RegisterTable.h"

namespace monitor {

namespace {

using RegisterTable::kControl;
using RegisterTable::kStatus;

bool Named(std::string_view name) { return !name.empty() && name != "RSVD"; }

QString Caption(uint8_t address) {
  const RegisterTable::Register* r = RegisterTable::Find(address);
  if (r == nullptr) return QString::fromStdString(recording::AddressText(address));
  const std::string_view c = r->mainCaption.empty() ? r->trimTitle : r->mainCaption;
  return QString::fromUtf8(c.data(), static_cast<qsizetype>(c.size()));
}

}  // namespace

std::vector<BitTimeline::Lane> BitTimeline::NamedBits(recording::Variant variant) {
  std::vector<Lane> lanes;
  // Bit 15 first, as the register views show them.
  for (uint8_t address : {kStatus, kControl}) {
    for (int bit = 15; bit >= 0; --bit) {
      const std::string_view name = recording::MainBitName(address, bit, variant);
      if (Named(name))
        lanes.push_back({address, bit, QString::fromUtf8(name.data(), static_cast<int>(name.size()))});
    }
  }
  return lanes;
}

BitTimeline::BitTimeline(recording::Variant variant, QColor one, QColor unknown, QWidget* parent)
    : QWidget(parent), variant_(variant), one_(one), unknown_(unknown) {
  setObjectName(QStringLiteral("timeline"));
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  SetLanes(NamedBits(variant));
}

void BitTimeline::SetLanes(std::vector<Lane> lanes) {
  lanes_ = std::move(lanes);
  Relayout();
}

void BitTimeline::Relayout() {
  rows_.clear();
  int row = 0;
  for (std::size_t i = 0; i < lanes_.size(); ++i) {
    if (i == 0 || lanes_[i].address != lanes_[i - 1].address) ++row;  // the register's header
    rows_.push_back(row++);
  }
  rowCount_ = row;
  updateGeometry();
  update();
}

int BitTimeline::RowHeight() const { return fontMetrics().height() + 2; }

int BitTimeline::LaneTop(std::size_t lane) const { return rows_[lane] * RowHeight(); }

int BitTimeline::NameWidth() const {
  int w = fontMetrics().horizontalAdvance(QStringLiteral("CONTROL"));
  for (const Lane& l : lanes_) w = std::max(w, fontMetrics().horizontalAdvance(l.name));
  return w + 12;
}

QSize BitTimeline::sizeHint() const { return {600, rowCount_ * RowHeight() + 2}; }

QSize BitTimeline::minimumSizeHint() const { return {NameWidth() + 100, sizeHint().height()}; }

void BitTimeline::SetColumns(int left, std::map<uint8_t, std::vector<BitColumn>> bits,
                             std::map<uint8_t, std::vector<ValueColumn>> values,
                             std::size_t columns) {
  left_ = left;
  bits_ = std::move(bits);
  values_ = std::move(values);
  columns_ = columns;
  update();
}

void BitTimeline::SetCursors(std::vector<double> xs) {
  if (xs == cursors_) return;
  cursors_ = std::move(xs);
  update();
}

BitTimeline::State BitTimeline::StateAt(std::size_t lane, std::size_t column) const {
  const Lane& l = lanes_[lane];
  if (l.bit < 0) return State::kNone;
  const auto it = bits_.find(l.address);
  if (it == bits_.end() || column >= it->second.size()) return State::kNone;
  const BitColumn& c = it->second[column];
  const uint16_t mask = static_cast<uint16_t>(1u << l.bit);
  if (c.ones & mask) return State::kOne;
  if (c.unknown) return State::kUnknown;
  if (c.zeros & mask) return State::kZero;
  return State::kNone;
}

ValueColumn BitTimeline::ValueAt(std::size_t lane, std::size_t column) const {
  const auto it = values_.find(lanes_[lane].address);
  if (it == values_.end() || column >= it->second.size()) return {};
  return it->second[column];
}

void BitTimeline::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().base());
  const int row = RowHeight();
  const QColor text = palette().color(QPalette::Text);
  const QColor rule = palette().color(QPalette::Mid);
  QBrush hatch(unknown_, Qt::BDiagPattern);
  QFont bold = font();
  bold.setBold(true);

  for (std::size_t lane = 0; lane < lanes_.size(); ++lane) {
    const Lane& l = lanes_[lane];
    const int top = LaneTop(lane);
    if (lane == 0 || l.address != lanes_[lane - 1].address) {
      const int h = top - row;
      p.setPen(text);
      p.setFont(bold);
      p.drawText(QRect(4, h, width() - 8, row), Qt::AlignLeft | Qt::AlignVCenter, Caption(l.address));
      p.setFont(font());
      p.setPen(rule);
      p.drawLine(left_, h + row - 1, width(), h + row - 1);
    }
    p.setPen(text);
    p.drawText(QRect(0, top, std::max(left_ - 6, 0), row), Qt::AlignRight | Qt::AlignVCenter, l.name);
    const QRect band(left_, top + 2, 0, row - 4);
    if (l.bit < 0) {
      // A value lane: each stretch of one value outlined, with the value inside when it fits.
      const auto it = values_.find(l.address);
      if (it == values_.end()) continue;
      const std::vector<ValueColumn>& cols = it->second;
      std::size_t c = 0;
      while (c < cols.size()) {
        const ValueColumn v = cols[c];
        std::size_t e = c + 1;
        while (e < cols.size() && cols[e] == v && v.kind != ValueColumn::Kind::kChange) ++e;
        const QRect r(band.left() + static_cast<int>(c), band.top(), static_cast<int>(e - c),
                      band.height());
        switch (v.kind) {
          case ValueColumn::Kind::kValue: {
            p.setPen(text);
            p.drawLine(r.left(), r.top(), r.right(), r.top());
            p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
            const QString s =
                l.hex ? QStringLiteral("0x") +
                            QStringLiteral("%1").arg(v.value, 4, 16, QLatin1Char('0')).toUpper()
                      : QString::number(v.value);
            if (fontMetrics().horizontalAdvance(s) + 4 <= r.width())
              p.drawText(r, Qt::AlignCenter, s);
            break;
          }
          case ValueColumn::Kind::kChange:
            p.setPen(text);
            p.drawLine(r.left(), r.top(), r.left(), r.bottom());
            break;
          case ValueColumn::Kind::kUnknown: p.fillRect(r, hatch); break;
          case ValueColumn::Kind::kNone: break;
        }
        c = e;
      }
      continue;
    }
    // Runs of equal state are drawn as one rectangle each.
    std::size_t c = 0;
    while (c < columns_) {
      const State s = StateAt(lane, c);
      std::size_t e = c + 1;
      while (e < columns_ && StateAt(lane, e) == s) ++e;
      const QRect r(band.left() + static_cast<int>(c), band.top(), static_cast<int>(e - c),
                    band.height());
      switch (s) {
        case State::kOne: p.fillRect(r, one_); break;
        case State::kUnknown: p.fillRect(r, hatch); break;
        case State::kZero:
          p.setPen(rule);
          p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
          break;
        case State::kNone: break;
      }
      c = e;
    }
  }
  QPen cursor(text, 1, Qt::DashLine);
  p.setPen(cursor);
  for (double x : cursors_) p.drawLine(QPointF(x, 0), QPointF(x, height()));
}

}  // namespace monitor

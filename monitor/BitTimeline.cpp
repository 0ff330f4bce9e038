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

}  // namespace

BitTimeline::BitTimeline(recording::Variant variant, QColor one, QColor unknown, QWidget* parent)
    : QWidget(parent), one_(one), unknown_(unknown) {
  setObjectName(QStringLiteral("timeline"));
  // Bit 15 first, as the register views show them.
  for (uint8_t address : {kStatus, kControl}) {
    if (address == kControl) controlFirst_ = lanes_.size();
    for (int bit = 15; bit >= 0; --bit) {
      const std::string_view name = recording::MainBitName(address, bit, variant);
      if (Named(name)) {
        lanes_.push_back(
            {address, bit, QString::fromUtf8(name.data(), static_cast<int>(name.size()))});
      }
    }
  }
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

int BitTimeline::RowHeight() const { return fontMetrics().height() + 2; }

int BitTimeline::LaneTop(std::size_t lane) const {
  const std::size_t headers = lane >= controlFirst_ ? 2 : 1;
  return static_cast<int>(lane + headers) * RowHeight();
}

int BitTimeline::NameWidth() const {
  int w = 0;
  for (const Lane& l : lanes_) w = std::max(w, fontMetrics().horizontalAdvance(l.name));
  w = std::max(w, fontMetrics().horizontalAdvance(QStringLiteral("CONTROL")));
  return w + 12;
}

QSize BitTimeline::sizeHint() const {
  return {600, static_cast<int>(lanes_.size() + 2) * RowHeight() + 2};
}

QSize BitTimeline::minimumSizeHint() const { return {NameWidth() + 100, sizeHint().height()}; }

void BitTimeline::SetColumns(int left, std::vector<BitColumn> status,
                             std::vector<BitColumn> control) {
  left_ = left;
  status_ = std::move(status);
  control_ = std::move(control);
  update();
}

BitTimeline::State BitTimeline::StateAt(std::size_t lane, std::size_t column) const {
  const Lane& l = lanes_[lane];
  const std::vector<BitColumn>& columns = l.address == kStatus ? status_ : control_;
  if (column >= columns.size()) return State::kNone;
  const BitColumn& c = columns[column];
  const uint16_t mask = static_cast<uint16_t>(1u << l.bit);
  if (c.ones & mask) return State::kOne;
  if (c.unknown) return State::kUnknown;
  if (c.zeros & mask) return State::kZero;
  return State::kNone;
}

void BitTimeline::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().base());
  const int row = RowHeight();
  const QColor text = palette().color(QPalette::Text);
  const QColor rule = palette().color(QPalette::Mid);
  QBrush hatch(unknown_, Qt::BDiagPattern);

  auto header = [&](int top, const QString& caption) {
    p.setPen(text);
    QFont bold = font();
    bold.setBold(true);
    p.setFont(bold);
    p.drawText(QRect(4, top, width() - 8, row), Qt::AlignLeft | Qt::AlignVCenter, caption);
    p.setFont(font());
    p.setPen(rule);
    p.drawLine(left_, top + row - 1, width(), top + row - 1);
  };
  auto caption = [](uint8_t address) {
    const std::string_view c = RegisterTable::Find(address)->mainCaption;
    return QString::fromUtf8(c.data(), static_cast<qsizetype>(c.size()));
  };
  header(0, caption(RegisterTable::kStatus));
  header(LaneTop(controlFirst_) - row, caption(RegisterTable::kControl));

  const std::size_t columns = Columns();
  for (std::size_t lane = 0; lane < lanes_.size(); ++lane) {
    const int top = LaneTop(lane);
    p.setPen(text);
    p.drawText(QRect(0, top, std::max(left_ - 6, 0), row), Qt::AlignRight | Qt::AlignVCenter,
               lanes_[lane].name);
    const QRect band(left_, top + 2, 0, row - 4);
    // Runs of equal state are drawn as one rectangle each.
    std::size_t c = 0;
    while (c < columns) {
      const State s = StateAt(lane, c);
      std::size_t e = c + 1;
      while (e < columns && StateAt(lane, e) == s) ++e;
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
}

}  // namespace monitor

#include "views/WindowPlacement.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QVariant>
#include <QWidget>
#include <algorithm>
#include <optional>

namespace WindowPlacement {

namespace {

constexpr const char* kPlaced = "korvoPlaced";

QSize FrameSize(const QMargins& m) { return QSize(m.left() + m.right(), m.top() + m.bottom()); }

// The client size within `room` (an outer size): as wanted, cut to the room, with room for a
// scroll bar across a cut.
QSize ClientWithin(const Request& r, const QSize& room) {
  const QSize fit = room - FrameSize(r.frame);
  QSize client = r.wanted.boundedTo(fit);
  if (r.scrollBarExtent > 0) {
    if (client.height() < r.wanted.height())
      client.setWidth(std::min(r.wanted.width() + r.scrollBarExtent, fit.width()));
    if (client.width() < r.wanted.width())
      client.setHeight(std::min(r.wanted.height() + r.scrollBarExtent, fit.height()));
  }
  return client.expandedTo(QSize(0, 0));
}

bool Clear(const QRect& outer, const std::vector<QRect>& keepClear) {
  return std::none_of(keepClear.begin(), keepClear.end(),
                      [&](const QRect& k) { return k.isValid() && k.intersects(outer); });
}

int Clamp(int v, int low, int high) { return std::max(low, std::min(v, high)); }

enum class Side { kRight, kLeft, kBelow, kAbove };

// The window on one side of the anchor, slid along that side to stay clear; nullopt when the
// side has no room or no clear spot.
std::optional<QRect> OnSide(const Request& r, Side side, const std::vector<QRect>& keepClear) {
  const QRect& a = r.anchor;
  const QRect& av = r.available;
  QRect region;
  switch (side) {
    case Side::kRight: region = QRect(QPoint(a.right() + 1, av.top()), av.bottomRight()); break;
    case Side::kLeft: region = QRect(av.topLeft(), QPoint(a.left() - 1, av.bottom())); break;
    case Side::kBelow: region = QRect(QPoint(av.left(), a.bottom() + 1), av.bottomRight()); break;
    case Side::kAbove: region = QRect(av.topLeft(), QPoint(av.right(), a.top() - 1)); break;
  }
  region &= av;
  if (region.width() <= 0 || region.height() <= 0) return std::nullopt;
  const QSize outer = ClientWithin(r, region.size()) + FrameSize(r.frame);
  if (outer.width() <= FrameSize(r.frame).width() || outer.height() <= FrameSize(r.frame).height())
    return std::nullopt;
  const bool across = side == Side::kRight || side == Side::kLeft;
  // Against the anchor's edge; along it, level with the anchor first, then past each window
  // in the way.
  const int fixed = side == Side::kRight   ? region.left()
                    : side == Side::kLeft  ? region.right() - outer.width() + 1
                    : side == Side::kBelow ? region.top()
                                           : region.bottom() - outer.height() + 1;
  const int low = across ? region.top() : region.left();
  const int high = across ? region.bottom() - outer.height() + 1 : region.right() - outer.width() + 1;
  std::vector<int> along = {across ? a.top() : a.left()};
  for (const QRect& k : keepClear) {
    if (across) {
      along.push_back(k.bottom() + 1);
      along.push_back(k.top() - outer.height());
    } else {
      along.push_back(k.right() + 1);
      along.push_back(k.left() - outer.width());
    }
  }
  for (int p : along) {
    const int v = Clamp(p, low, high);
    const QRect at = across ? QRect(QPoint(fixed, v), outer) : QRect(QPoint(v, fixed), outer);
    if (Clear(at, keepClear)) return at;
  }
  return std::nullopt;
}

Result Finish(const Request& r, const QRect& outer) {
  return {outer, outer.marginsRemoved(r.frame)};
}

QRect OuterOf(const QWidget& w) { return w.geometry().marginsAdded(FrameOf(w)); }

}  // namespace

Result Place(const Request& r) {
  const QSize whole = ClientWithin(r, r.available.size());
  const QSize minimum = r.minimum.boundedTo(whole);
  if (r.anchor.isValid()) {
    for (const std::vector<QRect>& keep : {r.keepClear, std::vector<QRect>{r.anchor}}) {
      std::optional<QRect> best;
      for (Side side : {Side::kRight, Side::kLeft, Side::kBelow, Side::kAbove}) {
        const std::optional<QRect> at = OnSide(r, side, keep);
        if (!at) continue;
        const QSize client = at->size() - FrameSize(r.frame);
        if (client.width() < minimum.width() || client.height() < minimum.height()) continue;
        if (client == whole) return Finish(r, *at);
        auto area = [](const QSize& s) { return qint64(s.width()) * s.height(); };
        if (!best || area(client) > area(best->size() - FrameSize(r.frame))) best = at;
      }
      if (best) return Finish(r, *best);
    }
  }
  const QSize outer = whole + FrameSize(r.frame);
  QPoint at(r.available.right() - outer.width() + 1, r.available.top());
  if (!r.anchor.isValid()) at = r.available.center() - QRect(QPoint(), outer).center();
  return Finish(r, QRect(at, outer));
}

QMargins FrameOf(const QWidget& window) {
  if (!window.isVisible()) return kAssumedFrame;
  const QRect f = window.frameGeometry();
  const QRect g = window.geometry();
  const QMargins m(g.left() - f.left(), g.top() - f.top(), f.right() - g.right(),
                   f.bottom() - g.bottom());
  return m.top() >= kTitleBarAtLeast ? m : kAssumedFrame;
}

void PlaceBeside(QWidget& window, const QWidget* beside, int scrollBarExtent) {
  const QWidget* anchor = beside;
  if (!anchor && window.parentWidget()) anchor = window.parentWidget()->window();
  QScreen* screen = anchor ? anchor->screen() : window.screen();
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  if (!window.testAttribute(Qt::WA_Resized)) window.adjustSize();

  Request r;
  r.available = screen->availableGeometry();
  if (anchor && anchor->isVisible()) {
    r.anchor = OuterOf(*anchor);
    r.keepClear.push_back(r.anchor);
  }
  // The windows a user works in: those without an owner.
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w == &window || w == anchor || !w->isVisible() || w->parentWidget()) continue;
    if (w->windowFlags().testFlag(Qt::FramelessWindowHint)) continue;  // a splash
    if (w->windowType() != Qt::Window && w->windowType() != Qt::Dialog) continue;
    r.keepClear.push_back(OuterOf(*w));
  }
  // Before it is first shown the window has no frame of its own: it gets one like its anchor's.
  r.frame = window.isVisible() ? FrameOf(window) : anchor ? FrameOf(*anchor) : kAssumedFrame;
  r.wanted = window.size();
  r.minimum = window.minimumSizeHint().expandedTo(window.minimumSize()).expandedTo(QSize(0, 0));
  r.scrollBarExtent = scrollBarExtent;
  window.setGeometry(Place(r).client);
  window.setProperty(kPlaced, true);
}

void PlaceOnFirstShow(QWidget& window, const QWidget* beside) {
  if (window.property(kPlaced).toBool()) return;
  PlaceBeside(window, beside);
}

}  // namespace WindowPlacement

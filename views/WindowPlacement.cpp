#include "views/WindowPlacement.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGuiApplication>
#include <QLayout>
#include <QPointer>
#include <QScreen>
#include <QVariant>
#include <QWidget>
#include <algorithm>
#include <optional>

namespace WindowPlacement {

namespace {

constexpr const char* kPlaced = "korvoPlaced";

QPointer<const QWidget> g_main;

QSize FrameSize(const QMargins& m) { return QSize(m.left() + m.right(), m.top() + m.bottom()); }

qint64 Area(const QSize& s) { return qint64(s.width()) * s.height(); }

bool AtLeast(const QSize& s, const QSize& least) {
  return s.width() >= least.width() && s.height() >= least.height();
}

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

// The window on one side of `a`, slid along that side to stay clear; nullopt when the side has
// no room or no clear spot.
std::optional<QRect> OnSide(const Request& r, const QRect& a, Side side,
                            const std::vector<QRect>& keepClear) {
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
  // Against the edge of `a`; along it, level with `a` first, then past each window in the way.
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

// Beside `a`: the first side where the whole window fits, else the side giving it the most
// room at no less than `least`.
std::optional<QRect> BesideOf(const Request& r, const QRect& a, const std::vector<QRect>& keep,
                              const QSize& whole, const QSize& least) {
  std::optional<QRect> best;
  for (Side side : {Side::kRight, Side::kLeft, Side::kBelow, Side::kAbove}) {
    const std::optional<QRect> at = OnSide(r, a, side, keep);
    if (!at) continue;
    const QSize client = at->size() - FrameSize(r.frame);
    if (!AtLeast(client, least)) continue;
    if (client == whole) return at;
    if (!best || Area(client) > Area(best->size() - FrameSize(r.frame))) best = at;
  }
  return best;
}

// Over the main window, in the largest room that holds none of its title bar and buttons, at
// no less than `least`.
std::optional<QRect> OffMainsControls(const Request& r, const QSize& least) {
  const QRect& av = r.available;
  // The room's edges: the screen's, or against a control.
  std::vector<int> lefts = {av.left()}, rights = {av.right()}, tops = {av.top()},
                   bottoms = {av.bottom()};
  for (const QRect& k : r.mainKeepOff) {
    lefts.push_back(k.right() + 1);
    rights.push_back(k.left() - 1);
    tops.push_back(k.bottom() + 1);
    bottoms.push_back(k.top() - 1);
  }
  const QSize frame = FrameSize(r.frame);
  std::optional<QRect> best;
  for (int left : lefts) {
    for (int right : rights) {
      if (right - left + 1 < least.width() + frame.width()) continue;
      for (int top : tops) {
        for (int bottom : bottoms) {
          if (bottom - top + 1 < least.height() + frame.height()) continue;
          const QRect room = QRect(QPoint(left, top), QPoint(right, bottom)) & av;
          if (room.isEmpty() || !Clear(room, r.mainKeepOff)) continue;
          const QSize client = ClientWithin(r, room.size());
          if (!AtLeast(client, least)) continue;
          if (!best || Area(client) > Area(best->size() - frame))
            best = QRect(room.topLeft(), client + frame);
        }
      }
    }
  }
  return best;
}

Result Finish(const Request& r, const QRect& outer) {
  return {outer, outer.marginsRemoved(r.frame)};
}

QRect OuterOf(const QWidget& w) { return w.geometry().marginsAdded(FrameOf(w)); }

}  // namespace

Result Place(const Request& r) {
  const QSize whole = ClientWithin(r, r.available.size());
  // A window is not shrunk below what it works at, nor below what is of use.
  const QSize least = r.minimum.expandedTo(kFloor).boundedTo(whole);
  const QSize lowered = kFloor.boundedTo(whole);
  std::vector<QRect> all = r.keepClear;
  std::vector<QRect> owners;
  for (const QRect& k : {r.main, r.anchor}) {
    if (!k.isValid()) continue;
    all.push_back(k);
    owners.push_back(k);
  }
  if (r.anchor.isValid()) {
    for (const std::vector<QRect>* keep : {&all, &owners}) {
      if (auto at = BesideOf(r, r.anchor, *keep, whole, least)) return Finish(r, *at);
    }
  }
  if (r.main.isValid()) {
    std::vector<QRect> mainOnly = {r.main};
    for (const QSize& size : {least, lowered}) {
      for (const std::vector<QRect>* keep : {&all, &mainOnly}) {
        if (auto at = BesideOf(r, r.main, *keep, whole, size)) return Finish(r, *at);
      }
    }
    if (auto at = OffMainsControls(r, lowered)) return Finish(r, *at);
  }
  const QSize outer = whole + FrameSize(r.frame);
  QPoint at(r.available.right() - outer.width() + 1, r.available.top());
  if (!r.anchor.isValid() && !r.main.isValid())
    at = r.available.center() - QRect(QPoint(), outer).center();
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

void SetMainWindow(const QWidget* main) { g_main = main; }

void PlaceBeside(QWidget& window, const QWidget* beside, int scrollBarExtent, Others others) {
  const QWidget* anchor = beside;
  if (!anchor && window.parentWidget()) anchor = window.parentWidget()->window();
  QScreen* screen = anchor ? anchor->screen() : window.screen();
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  if (!window.testAttribute(Qt::WA_Resized)) window.adjustSize();

  Request r;
  r.available = screen->availableGeometry();
  if (anchor && anchor->isVisible()) r.anchor = OuterOf(*anchor);
  const QWidget* main = g_main.data();
  if (main && main != &window && main->isVisible() && main->screen() == screen) {
    r.main = OuterOf(*main);
    const QMargins frame = FrameOf(*main);
    r.mainKeepOff.push_back(QRect(r.main.topLeft(), QSize(r.main.width(), frame.top())));
    for (const QAbstractButton* b : main->findChildren<QAbstractButton*>()) {
      if (b->isVisibleTo(main))
        r.mainKeepOff.push_back(QRect(b->mapTo(main, QPoint()) + main->geometry().topLeft(),
                                      b->size()));
    }
  }
  // The windows a user works in: those without an owner.
  if (others == Others::kKeepClear) {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w == &window || w == anchor || w == main || !w->isVisible() || w->parentWidget())
        continue;
      if (w->windowFlags().testFlag(Qt::FramelessWindowHint)) continue;  // a splash
      if (w->windowType() != Qt::Window && w->windowType() != Qt::Dialog) continue;
      r.keepClear.push_back(OuterOf(*w));
    }
  }
  // Before it is first shown the window has no frame of its own: it gets one like its anchor's.
  r.frame = window.isVisible() ? FrameOf(window) : anchor ? FrameOf(*anchor) : kAssumedFrame;
  r.wanted = window.size();
  r.minimum = window.minimumSizeHint().expandedTo(window.minimumSize()).expandedTo(QSize(0, 0));
  // A window kept exactly as large as what it shows (About) cannot be shrunk.
  if (window.layout() && window.layout()->sizeConstraint() == QLayout::SetFixedSize)
    r.minimum = r.wanted;
  r.scrollBarExtent = scrollBarExtent;
  const QRect client = Place(r).client;
  // Shrunk below what its layout asks for: it works at the size the screen gives it.
  if (!AtLeast(client.size(), r.minimum))
    window.setMinimumSize(r.minimum.boundedTo(client.size()));
  window.setGeometry(client);
  window.setProperty(kPlaced, true);
}

void PlaceOnFirstShow(QWidget& window, const QWidget* beside) {
  if (window.property(kPlaced).toBool()) return;
  PlaceBeside(window, beside);
}

}  // namespace WindowPlacement

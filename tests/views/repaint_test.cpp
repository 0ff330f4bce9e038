// What a register view repaints when its value changes, and that painting from kept pictures
// shows what painting for real shows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QImage>
#include <QLineEdit>
#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "views/ctlCtrlRegister.h"
#include "views/ctlDACRegister.h"
#include "views/ctlStatRegister.h"

namespace {

struct ViewKind {
  const char* name;
  std::function<std::unique_ptr<QWidget>()> make;
  std::function<void(QWidget*, std::optional<int32_t>)> set;
  std::set<std::string> bit3;  // the widgets of bit 3
};

template <class View>
ViewKind Kind(const char* name, std::set<std::string> bit3) {
  return {name,
          [] {
            auto v = std::make_unique<View>();
            v->SetBitHiColor(0x7F80FF);
            v->SetBitLoColor(0x7FBF00);
            // Boxes without the focus: the one with it shows its cursor and is always
            // painted for real.
            for (auto* box : v->template findChildren<QLineEdit*>()) box->setFocusPolicy(Qt::NoFocus);
            return v;
          },
          [](QWidget* w, std::optional<int32_t> value) { static_cast<View*>(w)->SetValue(value); },
          std::move(bit3)};
}

const ViewKind kKinds[] = {
    Kind<ctlDACRegister>("DAC", {"lblBit3", "txtBitVal3"}),
    Kind<ctlCtrlRegister>("control", {"lblBit3", "lblBit19", "txtBitVal3"}),
    Kind<ctlStatRegister>("status", {"BitLabel3", "lblBit3", "lblBit19"}),
};

// Runs the repaint and the picture keeping that follow a change.
void Settle() {
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

class PaintLog : public QObject {
 public:
  bool eventFilter(QObject* o, QEvent* e) override {
    // The named widgets are the cells and boxes; the views beneath them are not named.
    if (e->type() == QEvent::Paint && !o->objectName().isEmpty())
      painted.insert(o->objectName().toStdString());
    return false;
  }
  std::set<std::string> painted;
};

TEST(RegisterViewRepaint, AChangedBitRepaintsItsOwnCellsAndBoxAndNothingAwayFromThem) {
  for (const ViewKind& kind : kKinds) {
    std::unique_ptr<QWidget> view = kind.make();
    view->show();
    for (int32_t v : {0x0000, 0x0008, 0x0000}) {  // each look seen once before
      kind.set(view.get(), v);
      Settle();
    }
    PaintLog log;
    qApp->installEventFilter(&log);
    kind.set(view.get(), 0x0008);
    Settle();
    qApp->removeEventFilter(&log);
    // Bit 3's own widgets, and of the others only those that overlap them (the cells and boxes
    // of neighbouring columns share a pixel).
    std::set<std::string> expected = kind.bit3;
    for (const QWidget* child : view->findChildren<QWidget*>()) {
      for (const std::string& own : kind.bit3) {
        const auto* w = view->findChild<QWidget*>(QString::fromStdString(own));
        if (w->geometry().intersects(child->geometry()))
          expected.insert(child->objectName().toStdString());
      }
    }
    EXPECT_TRUE(std::includes(expected.begin(), expected.end(), log.painted.begin(),
                              log.painted.end()))
        << kind.name;
    EXPECT_TRUE(std::includes(log.painted.begin(), log.painted.end(), kind.bit3.begin(),
                              kind.bit3.end()))
        << kind.name;
  }
}

TEST(RegisterViewRepaint, PaintingFromKeptPicturesShowsWhatPaintingForRealShows) {
  for (const ViewKind& kind : kKinds) {
    std::unique_ptr<QWidget> seen = kind.make();  // shown: keeps pictures of its looks
    std::unique_ptr<QWidget> fresh = kind.make();  // never shown: always paints for real
    seen->show();
    for (std::optional<int32_t> v : {std::optional<int32_t>(0x0000), std::optional<int32_t>(0xFFFF),
                                     std::optional<int32_t>(0x5A5A), std::optional<int32_t>()}) {
      kind.set(seen.get(), v);
      Settle();
      kind.set(seen.get(), v);  // now painted from the picture kept on the first pass
      kind.set(fresh.get(), v);
      const QImage a = seen->grab().toImage(), b = fresh->grab().toImage();
      EXPECT_EQ(a, b) << kind.name << " value " << (v ? *v : -1);
    }
  }
}

}  // namespace

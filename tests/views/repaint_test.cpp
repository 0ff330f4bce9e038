// That painting from kept pictures shows what painting for real shows.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <functional>
#include <memory>
#include <optional>

#include "views/ctlCtrlRegister.h"
#include "views/ctlDACRegister.h"
#include "views/ctlStatRegister.h"

namespace {

struct ViewKind {
  const char* name;
  std::function<std::unique_ptr<QWidget>()> make;
  std::function<void(QWidget*, std::optional<int32_t>)> set;
};

template <class View>
ViewKind Kind(const char* name) {
  return {name,
          [] {
            auto v = std::make_unique<View>();
            v->SetBitHiColor(0x7F80FF);
            v->SetBitLoColor(0x7FBF00);
            // Boxes without the focus: the one with it shows its cursor and is always
            // painted for real.
            for (auto* box : v->template findChildren<QLineEdit*>())
              box->setFocusPolicy(Qt::NoFocus);
            return v;
          },
          [](QWidget* w, std::optional<int32_t> value) { static_cast<View*>(w)->SetValue(value); }};
}

const ViewKind kKinds[] = {
    Kind<ctlDACRegister>("DAC"),
    Kind<ctlCtrlRegister>("control"),
    Kind<ctlStatRegister>("status"),
};

// Runs the repaint and the picture keeping that follow a change.
void Settle() {
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

TEST(RegisterViewRepaint, PaintingFromKeptPicturesShowsWhatPaintingForRealShows) {
  for (const ViewKind& kind : kKinds) {
    std::unique_ptr<QWidget> seen = kind.make();   // shown: keeps pictures of its looks
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

// That painting from kept pictures shows what painting for real shows, in the register views
// and in the main window's entries.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <functional>
#include <memory>
#include <optional>

#include "views/KeptLineEdit.h"
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

// An entry as the main window has them, in a window, away from the offscreen mouse at its
// top left; shown or never shown (then it always paints for real).
struct Entry {
  Entry(const QString& text, bool shown) {
    window.resize(200, 100);
    edit->setFocusPolicy(Qt::NoFocus);
    edit->setGeometry(100, 50, 64, 24);
    edit->setText(text);
    if (shown) window.show();
  }
  QWidget window;
  KeptLineEdit* edit = new KeptLineEdit(&window);
};

TEST(EntryRepaint, AKeptPictureShowsWhatPaintingForRealShows) {
  constexpr int32_t kRed = 0x2020FF, kWhite = 0xFFFFFF;
  struct Look {
    const char* text;
    int32_t ground;
  };
  // Each look twice, the second time after others were painted in between.
  const Look looks[] = {{"16800", kWhite}, {"65535", kRed}, {"", kWhite},      {"0", kWhite},
                        {"16800", kRed},   {"65535", kRed}, {"16800", kWhite}, {"0", kRed}};
  Entry seen(QString(), true);
  for (const Look& look : looks) {
    seen.edit->setText(QString::fromLatin1(look.text));
    PaintBase(seen.edit, look.ground);
    Settle();
    seen.edit->grab();  // keeps a picture of this look
    Settle();
    Entry fresh(QString::fromLatin1(look.text), false);
    PaintBase(fresh.edit, look.ground);
    EXPECT_EQ(seen.edit->grab().toImage(), fresh.edit->grab().toImage())
        << look.text << " on " << std::hex << look.ground;
  }
}

}  // namespace

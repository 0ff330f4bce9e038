// That a bit box, painted by its register view from kept pictures, looks exactly as a plain
// line edit with the same text, colours, font and size painted for real; and that the text
// colour of a bit cell follows its background whatever colours came before.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>
#include <QImage>
#include <QLineEdit>
#include <QPalette>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "views/BitBoxes.h"
#include "views/ctlCtrlRegister.h"
#include "views/ctlDACRegister.h"
#include "views/ctlTrimRegister.h"

namespace {

// Runs the repaint and the picture keeping that follow a change.
void Settle() {
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

// The pixels alone (a grab of a view and one of a lone line edit come in different formats),
// within the box's outer pixel: the columns of a view overlap by a pixel, and the cell above a
// box covers its top row.
QImage Inside(const QPixmap& p) {
  return p.toImage()
      .convertToFormat(QImage::Format_ARGB32)
      .copy(QRect(QPoint(0, 0), p.size()).adjusted(1, 1, -1, -1));
}

// What a plain line edit with the box's text, colours, font and size paints.
QPixmap PlainLook(const QLineEdit& box) {
  QLineEdit plain;
  QFont f = box.font();
  f.setStyleStrategy(QFont::PreferDefault);
  plain.setFont(f);
  // Every colour of the box's palette, its inherited ones included.
  QPalette p = box.palette();
  p.setResolveMask(~QPalette::ResolveMask(0));
  plain.setPalette(p);
  plain.setAlignment(box.alignment());
  plain.setFocusPolicy(Qt::NoFocus);
  plain.resize(box.size());
  plain.setText(box.text());
  if (box.hasSelectedText()) plain.setSelection(box.selectionStart(), box.selectedText().size());
  return plain.grab();
}

struct ViewKind {
  const char* name;
  std::function<std::unique_ptr<QWidget>()> make;
  std::function<void(QWidget*, std::optional<int32_t>)> set;
  std::function<QLineEdit*(QWidget*, int)> box;
};

template <class View>
ViewKind Kind(const char* name) {
  return {name,
          [] {
            auto v = std::make_unique<View>();
            for (auto* b : v->template findChildren<QLineEdit*>()) b->setFocusPolicy(Qt::NoFocus);
            return v;
          },
          [](QWidget* w, std::optional<int32_t> value) { static_cast<View*>(w)->SetValue(value); },
          [](QWidget* w, int bit) { return static_cast<View*>(w)->txtBitVal(bit); }};
}

const ViewKind kKinds[] = {
    Kind<ctlDACRegister>("DAC"),
    Kind<ctlCtrlRegister>("control"),
    Kind<ctlTrimRegister>("trim"),
};

// Every box of the shown view against its plain look, after the value was written twice (the
// second time painted from the pictures kept on the first).
void ExpectPlainLooks(const ViewKind& kind, QWidget* view, std::optional<int32_t> v,
                      const char* step) {
  kind.set(view, v);
  Settle();
  kind.set(view, v);
  Settle();
  for (int bit = 0; bit < 16; ++bit) {
    QLineEdit* box = kind.box(view, bit);
    EXPECT_EQ(Inside(view->grab(box->geometry())), Inside(PlainLook(*box)))
        << kind.name << " " << step << " bit " << bit << " value " << (v ? *v : -1);
  }
}

const std::optional<int32_t> kValues[] = {0x0000, 0xFFFF, 0xA5C3, std::nullopt};

TEST(BitBoxLooks, OnOffAndUnknownBoxesLookAsPlainLineEdits) {
  for (const ViewKind& kind : kKinds) {
    std::unique_ptr<QWidget> view = kind.make();
    view->show();
    for (std::optional<int32_t> v : kValues) ExpectPlainLooks(kind, view.get(), v, "plain");
  }
}

TEST(BitBoxLooks, BoxesLookAsPlainLineEditsAfterAPaletteChange) {
  for (const ViewKind& kind : kKinds) {
    std::unique_ptr<QWidget> view = kind.make();
    view->show();
    ExpectPlainLooks(kind, view.get(), 0x5A5A, "before");
    QPalette p = view->palette();
    p.setColor(QPalette::Base, QColor(0x20, 0x30, 0x40));
    p.setColor(QPalette::Text, QColor(0xF0, 0xE0, 0x10));
    p.setColor(QPalette::Window, QColor(0x80, 0x10, 0x10));
    view->setPalette(p);
    for (std::optional<int32_t> v : kValues) ExpectPlainLooks(kind, view.get(), v, "palette");
  }
}

TEST(BitBoxLooks, BoxesLookAsPlainLineEditsAfterAFontChange) {
  for (const ViewKind& kind : kKinds) {
    std::unique_ptr<QWidget> view = kind.make();
    view->show();
    ExpectPlainLooks(kind, view.get(), 0x5A5A, "before");
    QFont f = view->font();
    f.setPointSize(11);
    f.setBold(true);
    view->setFont(f);
    EXPECT_EQ(kind.box(view.get(), 0)->font().pointSize(), 11) << kind.name;
    EXPECT_TRUE(kind.box(view.get(), 0)->font().bold()) << kind.name;
    for (std::optional<int32_t> v : kValues) ExpectPlainLooks(kind, view.get(), v, "font");
  }
}

TEST(BitBoxLooks, BoxesLookAsPlainLineEditsAfterAResize) {
  ctlTrimRegister view;
  const ViewKind& kind = kKinds[2];
  for (auto* b : view.findChildren<QLineEdit*>()) b->setFocusPolicy(Qt::NoFocus);
  view.show();
  ExpectPlainLooks(kind, &view, 0x5A5A, "before");
  view.SetBitWidth(900);
  for (std::optional<int32_t> v : kValues) ExpectPlainLooks(kind, &view, v, "wider");
  view.SetBitWidth(450);
  for (std::optional<int32_t> v : kValues) ExpectPlainLooks(kind, &view, v, "narrower");
}

TEST(BitCellTextColor, FollowsTheBackgroundWhateverCameBefore) {
  // More backgrounds than are kept, light and dark mixed (0x00BBGGRR), with the text colour of
  // the higher contrast; each asked for several times in changing orders.
  constexpr int32_t kBlack = 0x000000, kWhite = 0xFFFFFF;
  const std::pair<int32_t, int32_t> cases[] = {
      {0xCFCFCF, kBlack}, {0x000000, kWhite}, {0x8080FF, kBlack}, {0x7FBF00, kBlack},
      {0xFFFFFF, kBlack}, {0x202020, kWhite}, {0x00FFFF, kBlack}, {0x800000, kWhite},
      {0x767676, kBlack}, {0x595959, kWhite}};
  const std::size_t n = std::size(cases);
  for (std::size_t round = 0; round < 3; ++round) {
    for (std::size_t i = 0; i < n; ++i) {
      const auto& [background, text] = cases[(i * (round + 3)) % n];
      EXPECT_EQ(ContrastingTextColor(background), text) << std::hex << background;
    }
  }
}

}  // namespace

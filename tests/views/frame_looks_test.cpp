// That a register frame repainted from its kept picture shows what painting it for real shows,
// whatever lies between it and its window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPalette>
#include <functional>
#include <memory>

#include "views/FrameBox.h"

namespace {

// A window with a frame in it, the frame on a panel between them.
struct FramedWindow {
  explicit FramedWindow(const std::function<void(QWidget* window, QWidget* panel)>& dress) {
    window.resize(300, 160);
    panel->setGeometry(10, 10, 280, 140);
    frame->setGeometry(10, 10, 240, 100);
    dress(&window, panel);
  }
  QImage Look() { return window.grab().toImage().convertToFormat(QImage::Format_ARGB32); }
  QWidget window;
  QWidget* panel = new QWidget(&window);
  FrameBox* frame = new FrameBox(QStringLiteral("REGISTERS (DAC)"), panel);
};

void Settle() {
  for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

struct Dress {
  const char* name;
  std::function<void(QWidget*, QWidget*)> apply;
};

void Recolor(QWidget* w, QColor c) {
  QPalette p = w->palette();
  p.setColor(QPalette::Window, c);
  w->setPalette(p);
}

const Dress kDresses[] = {
    {"theme", [](QWidget*, QWidget*) {}},
    {"window colour", [](QWidget* window, QWidget*) { Recolor(window, QColor(200, 220, 240)); }},
    {"panel fills its own",
     [](QWidget*, QWidget* panel) {
       Recolor(panel, QColor(90, 30, 30));
       panel->setAutoFillBackground(true);
     }},
    {"panel colour unfilled", [](QWidget*, QWidget* panel) { Recolor(panel, QColor(30, 90, 30)); }},
};

TEST(FrameLooks, AKeptPictureShowsWhatPaintingForRealShows) {
  for (const Dress& dress : kDresses) {
    FramedWindow seen(dress.apply);   // shown: keeps a picture of its frame
    FramedWindow fresh(dress.apply);  // never shown: paints its frame for real
    seen.window.show();
    Settle();
    seen.frame->update();
    Settle();
    EXPECT_EQ(seen.Look(), fresh.Look()) << dress.name;
  }
}

TEST(FrameLooks, AKeptPictureFollowsAWindowColourChange) {
  FramedWindow seen([](QWidget*, QWidget*) {});
  FramedWindow fresh([](QWidget*, QWidget*) {});
  seen.window.show();
  Settle();
  Recolor(&seen.window, QColor(250, 200, 120));
  Recolor(&fresh.window, QColor(250, 200, 120));
  Settle();
  seen.frame->update();
  Settle();
  EXPECT_EQ(seen.Look(), fresh.Look());
}

}  // namespace

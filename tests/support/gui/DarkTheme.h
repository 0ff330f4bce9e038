// A dark application palette for a scope (light text on a dark ground, as a dark desktop theme
// gives); the previous palette comes back at its end. Create it before the widgets under test.
#pragma once

#include <QApplication>
#include <QPalette>

class DarkTheme {
 public:
  static constexpr QRgb kText = 0xDDDDDD;

  DarkTheme() : previous_(QApplication::palette()) {
    QPalette p = previous_;
    for (auto role : {QPalette::Window, QPalette::Button})
      p.setColor(role, QColor(0x30, 0x30, 0x30));
    p.setColor(QPalette::Base, QColor(0x1E, 0x1E, 0x1E));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
      p.setColor(role, QColor(kText));
    QApplication::setPalette(p);
  }
  ~DarkTheme() { QApplication::setPalette(previous_); }
  DarkTheme(const DarkTheme&) = delete;
  DarkTheme& operator=(const DarkTheme&) = delete;

 private:
  QPalette previous_;
};

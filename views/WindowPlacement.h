// Where a secondary window opens: wholly inside the available area of the main window's screen
// (title bar included), beside the window that opens it and clear of the windows the user works
// in (those without an owner: the main window, the test-mode window), shrunk to the room there
// is. One routine for every non-modal window, run when the window is first shown.
#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>
#include <vector>

class QWidget;

namespace WindowPlacement {

// A frame for windows whose platform reports none (offscreen) or too thin a top edge to be a
// title bar (a window not framed yet): room for a title bar and its buttons.
inline constexpr QMargins kAssumedFrame{4, 30, 4, 4};
inline constexpr int kTitleBarAtLeast = 16;

struct Request {
  QRect available;              // the screen's available area
  QRect anchor;                 // outer frame of the window to open beside (invalid: none)
  std::vector<QRect> keepClear; // outer frames to stay off where there is room (anchor included)
  QMargins frame;               // the new window's frame margins
  QSize wanted;                 // client size the window asks for
  QSize minimum;                // the smallest client size it works at
  // A window that scrolls: cut one way, it needs room for a scroll bar the other way.
  int scrollBarExtent = 0;
};

struct Result {
  QRect frame;   // outer geometry
  QRect client;  // geometry inside the frame
};

// Beside the anchor, tried to its right, left, below and above (level with its top or left
// edge); the first side where the whole window fits clear of keepClear wins, else the side
// that gives it the most room, shrunk to that room. Where no side has room for the minimum,
// keepClear is relaxed to the anchor alone; where even that fails (the anchor fills the
// screen), the window goes into the available area's top right corner.
Result Place(const Request& r);

// The frame margins of a shown window, or kAssumedFrame where they cannot be a real frame.
QMargins FrameOf(const QWidget& window);

// Places `window` beside `beside` (its owner's window when null) by Place(), on the screen of
// `beside`, and sets its geometry. The wanted client size is the window's current size.
void PlaceBeside(QWidget& window, const QWidget* beside = nullptr, int scrollBarExtent = 0);

// PlaceBeside() once, the first time the window is shown through this; later calls leave the
// window where the user put it.
void PlaceOnFirstShow(QWidget& window, const QWidget* beside = nullptr);

}  // namespace WindowPlacement

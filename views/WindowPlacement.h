// Where a secondary window opens: wholly inside the available area of the main window's screen
// (title bar included), beside the window that opens it and clear of the windows the user works
// in (those without an owner: the main window, the test-mode window), shrunk to the room there
// is, and never over the main window. One routine for every non-modal window, run when the
// window is first shown.
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
// The smallest client size a window is shrunk to where the screen has no room for its own
// minimum: below it a chart or a table shows too little to be of use.
inline constexpr QSize kFloor{320, 200};

struct Request {
  QRect available;               // the screen's available area
  QRect anchor;                  // outer frame of the window to open beside (invalid: none)
  QRect main;                    // outer frame of the main window, never covered (invalid: none)
  std::vector<QRect> mainKeepOff;  // its title bar and buttons, when nothing else is left
  std::vector<QRect> keepClear;  // other windows' outer frames, to stay off where there is room
  QMargins frame;                // the new window's frame margins
  QSize wanted;                  // client size the window asks for
  QSize minimum;                 // the smallest client size it works at
  // A window that scrolls: cut one way, it needs room for a scroll bar the other way.
  int scrollBarExtent = 0;
};

struct Result {
  QRect frame;   // outer geometry
  QRect client;  // geometry inside the frame
};

// Beside the anchor, tried to its right, left, below and above (level with its top or left
// edge); the first side where the whole window fits clear of every window wins, else the side
// that gives it the most room at no less than its minimum (and kFloor), shrunk to that room.
// Then the same on the main window's free sides, first clear of the other windows, then over
// them; then there with the minimum lowered to kFloor. Where the main window leaves no side
// that large, the window takes the largest room over it that holds none of mainKeepOff.
Result Place(const Request& r);

// The frame margins of a shown window, or kAssumedFrame where they cannot be a real frame.
QMargins FrameOf(const QWidget& window);

// The window no other may cover; registered by the main window as it is made.
void SetMainWindow(const QWidget* main);

enum class Others { kKeepClear, kMayCover };

// Places `window` beside `beside` (its owner's window when null) by Place(), on the screen of
// `beside`, and sets its geometry. The wanted client size is the window's current size; shrunk
// below its minimum, the window's minimum size is lowered to the size it gets. kMayCover: a
// window that belongs at its anchor's side (the legend) stays level with it even over other
// windows (never over the main window).
void PlaceBeside(QWidget& window, const QWidget* beside = nullptr, int scrollBarExtent = 0,
                 Others others = Others::kKeepClear);

// PlaceBeside() once, the first time the window is shown through this; later calls leave the
// window where the user put it.
void PlaceOnFirstShow(QWidget& window, const QWidget* beside = nullptr);

}  // namespace WindowPlacement

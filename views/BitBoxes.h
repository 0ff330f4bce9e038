// The sixteen one-character bit boxes shared by the editable register views (the DAC, control
// and trim register controls), and the bit colours every register view paints with.
//
// BitBoxes creates QLineEdits named "txtBitVal0" .. "txtBitVal15" (box i is bit i) as children
// of the given parent widget; the owner positions them (Box(i)->setGeometry). Tab order runs
// from bit 15 to bit 0. Each box is centred, takes at most 2 typed characters, and selects its
// first character when it receives the focus.
//
// Every text change of a box, typed or set by SetValue, runs the bit-box handling:
//   1. text that reads as a decimal number becomes "1" when its value is above 0, and "0" when
//      it is 0 or less and two or more characters long (a single "0" stays);
//   2. other non-empty text becomes "0"; empty text stays empty (the bit is unknown);
//   3. the first character is selected, so the next key typed replaces it;
//   4. Change() is emitted.
// Setting the normalised text in step 1 or 2 is itself a change and runs the handling once
// more (so a typed "7" emits Change twice); normalised text is a fixed point, and a depth guard
// ends the re-entry in any case.
//
// Value(): nullopt when any box is empty, else bit i is set exactly when box i reads as 1.
// SetValue(v, paint): nullopt empties every box and paints every bit BitState::Unknown;
// otherwise box i becomes "1"/"0" from bit i of v (bits above 15 are ignored, a negative 16-bit
// value shows bit 15 as 1) and bit i is painted High/Low. Boxes are set in bit order 0..15, each
// followed by its paint call, so Change() comes once per box whose text changes, and an owner
// reading Value() inside its Change handler sees the bits written so far. Writing the value the
// boxes already hold emits nothing.
#pragma once

#include <QColor>
#include <QLabel>
#include <QLineEdit>
#include <QObject>
#include <QPixmap>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

class QWidget;

enum class BitState { Unknown, Low, High };

// The three colours of a register view, each 0x00BBGGRR (red in the lowest byte). In the DAC,
// control and status views Hi and Lo start black until the owner sets them; Unknown starts at the
// light grey of a fresh view.
struct BitColors {
  int32_t hi = 0;
  int32_t lo = 0;
  int32_t unknown = 0xCFCFCF;
  int32_t For(BitState s) const {
    return s == BitState::High ? hi : s == BitState::Low ? lo : unknown;
  }
};

// The three colour properties every register view has. Setting one only stores it: the
// cells keep their colours until the next value is written.
class BitColorProperties {
 public:
  int32_t BitHiColor() const { return colors_.hi; }
  void SetBitHiColor(int32_t c) { colors_.hi = c; }
  int32_t BitLoColor() const { return colors_.lo; }
  void SetBitLoColor(int32_t c) { colors_.lo = c; }
  int32_t BitUnknownColor() const { return colors_.unknown; }
  void SetBitUnknownColor(int32_t c) { colors_.unknown = c; }

 protected:
  BitColors colors_;
};

class CellCanvas;

// The last few pictures of a widget, each under the state it shows. A bit cell or box flips
// between a handful of looks; repainting one by copying its picture instead of running the
// style's drawing is what keeps a scan tick (up to 192 of them repainted) cheap. A picture is
// rendered from the widget's own painting, outside any paint event, so it is exactly what the
// widget would paint.
class PictureCache {
 public:
  // Everything the picture depends on besides what clears the cache (font, style, size).
  struct Key {
    QString text;
    QRgb a = 0, b = 0;
    int x = 0, y = 0;
    QSize size;
    QRgb base = 0, ink = 0;  // colours the owner changes without clearing the cache
    bool operator==(const Key&) const = default;
  };
  // What the widget tells the cache.
  class Owner {
   public:
    // Whether the widget shows one of a few looks now (a box with the cursor does not).
    virtual bool Cacheable() const = 0;
    virtual Key CacheKey() const = 0;
    // What the picture starts as: a widget that covers all of itself says its colour, so its
    // picture is opaque and is copied rather than blended.
    virtual QColor Ground() const { return Qt::transparent; }

   protected:
    ~Owner() = default;
  };

  PictureCache(QWidget* widget, Owner* owner) : widget_(widget), owner_(owner) {}

  // Call first in the widget's paint event with the area to paint: true when the picture was
  // painted from the cache. Otherwise the widget paints for real, and the picture of that state
  // is kept soon after. Only the area is copied: a large picture clipped to a small area still
  // costs the raster engine its whole height.
  bool Paint(const QRect& area);
  // The widget's look may have changed: keep a picture of it before the coming repaint (the
  // render runs from the event queue, ahead of the repaint, which comes last), or, when a
  // canvas paints the widget, have the canvas repaint it.
  void Prepare();
  void Clear() { entries_.clear(); }

  // The canvas that paints the widget, if any.
  CellCanvas* Canvas() const { return canvas_; }
  void SetCanvas(CellCanvas* canvas) { canvas_ = canvas; }
  // The picture of the widget's present look, rendered now when none is kept. A widget not
  // shown has its picture rendered every time (nothing is kept).
  QPixmap Picture();

 private:
  void Store();
  QPixmap Render();

  static constexpr size_t kEntries = 4;
  QWidget* widget_;
  Owner* owner_;
  CellCanvas* canvas_ = nullptr;
  std::vector<std::pair<Key, QPixmap>> entries_;  // oldest first
  bool rendering_ = false;
  bool pending_ = false;
};

// Paints the cells and boxes of a register view from the view's own paint event, in one pass.
// Qt's per-widget paint dispatch (clipping, a painter and a paint event for each of up to 48
// widgets per view) cost more than the painting itself; the cells and boxes stay widgets of
// their own (names, tooltips, clicks, focus), only their painting moves to the view. A box
// with the focus or under the mouse paints itself (it shows a cursor), and so does any widget
// while it renders its picture.
class CellCanvas {
 public:
  explicit CellCanvas(QWidget* view) : view_(view) {}
  // The view paints `child` from now on (children in the order they were created).
  void Adopt(QWidget* child, PictureCache& cache);
  // Hands `child`'s painting back to it, or takes it over again.
  void SetSelfPainting(QWidget* child, bool self);
  // `child`'s look changed: its area is repainted with every other changed one, in one update
  // of their bounding rectangle.
  void Dirty(const QWidget* child);
  // Call from the view's paint event.
  void Paint(QPaintEvent* e);

 private:
  void Flush();

  QWidget* view_;
  std::vector<std::pair<QWidget*, PictureCache*>> children_;
  QRect dirty_;
  bool pending_ = false;
};

// A label cell of a register view. It fills its own background, so repainting a bit costs an
// update rather than a palette change (a scan tick repaints up to 128 of them); its text colour
// changes only when the background crosses from light to dark or back.
class BitCell : public QLabel, private PictureCache::Owner {
  Q_OBJECT
 public:
  explicit BitCell(const QString& text, QWidget* parent = nullptr);
  void SetBackground(const QColor& c);
  QColor Background() const { return background_; }
  // Sets the caption and has the cell repainted (QLabel::setText alone would not reach a
  // canvas).
  void SetCaption(const QString& text);
  PictureCache& Pictures() { return cache_; }

 protected:
  void paintEvent(QPaintEvent* e) override;
  void changeEvent(QEvent* e) override;

 private:
  bool Cacheable() const override { return background_.isValid(); }
  PictureCache::Key CacheKey() const override;
  QColor Ground() const override;
  void ApplyTextColor();

  QColor background_;
  QColor text_;
  PictureCache cache_{this, this};
};

// Qt colour of a 0x00BBGGRR value.
QColor ColorFromBgr(int32_t bgr);
// 0x00BBGGRR value of a Qt colour.
int32_t BgrFromColor(const QColor& c);
// WCAG 2 contrast ratio of two colours (0x00BBGGRR), from 1 (same) to 21 (black on white).
double ContrastRatio(int32_t bgrA, int32_t bgrB);
// Black or white, whichever contrasts more with the background: one of them always reaches the
// 4.5:1 that WCAG asks of text, whatever the theme's own text colour is.
int32_t ContrastingTextColor(int32_t backgroundBgr);
// Paints the label's background, and its text (and frame) in ContrastingTextColor: a BitCell's
// own, any other widget's through its palette (it fills its background from then on). Does
// nothing when the label already has that colour.
void PaintBackground(QWidget* label, int32_t bgr);
// The same for a text box: its base and, contrasting with it, its text.
void PaintBase(QWidget* box, int32_t bgr);
// The tooltip of a bit's cells and box: "Bit 7: ICHG DAC 0", or "Bit 7" without a name.
QString BitToolTip(int bit, const QString& name);
// The background a label was last painted with, as 0x00BBGGRR.
int32_t BackgroundOf(const QWidget* label);

// What a line edit's picture depends on besides what clears its pictures (palette, font,
// style, enabled state).
PictureCache::Key LineEditKey(const QLineEdit& e);

// A bit box. Its first character stays selected after every change, but only the box that has
// the focus shows it, as a text box that hides its selection does: otherwise every box of a
// window would look highlighted after a read.
class BitBox : public QLineEdit, private PictureCache::Owner {
  Q_OBJECT
 public:
  explicit BitBox(QWidget* parent = nullptr);
  PictureCache& Pictures() { return cache_; }

 protected:
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  void enterEvent(QEnterEvent* e) override;
  void leaveEvent(QEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void changeEvent(QEvent* e) override;

 private:
  void ShowSelection(bool show);
  // Under a canvas: paints itself exactly while it is not cacheable.
  void SyncPainting();
  // Only a box without the focus (no cursor, no visible selection) and not hovered keeps to
  // a few looks.
  bool Cacheable() const override { return !hasFocus() && !underMouse(); }
  PictureCache::Key CacheKey() const override { return LineEditKey(*this); }

  PictureCache cache_{this, this};
};

class BitBoxes : public QObject {
  Q_OBJECT
 public:
  static constexpr int kBits = 16;
  using Painter = std::function<void(int bit, BitState state)>;

  // With a canvas, the view paints the boxes (see CellCanvas).
  explicit BitBoxes(QWidget* parent, CellCanvas* canvas = nullptr);

  QLineEdit* Box(int bit) const { return boxes_[bit]; }
  std::optional<int32_t> Value() const;
  void SetValue(std::optional<int32_t> v, const Painter& paint);

  // What the handling turns text into (steps 1 and 2); text it leaves alone comes back as is.
  static QString Normalised(const QString& text);

 signals:
  void Change();

 private:
  void OnTextChanged(int bit);

  std::array<QLineEdit*, kBits> boxes_{};
  std::array<int, kBits> depth_{};
  // What the box texts say, kept up to date on every text change so Value() is cheap.
  uint16_t known_ = 0;  // box i not empty
  uint16_t ones_ = 0;   // box i reads as 1
};

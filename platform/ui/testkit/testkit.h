// The headless peer for tests of forms and controls: a widget set whose windows only remember
// what they were told, a paint device that records every primitive, a fixed-metric measurer
// (6 pixels a byte, 12 pixels high), scripted message boxes, and simulated input that enters
// through the same entry points a display peer uses. Failures of the script (an unexpected box,
// a box whose condition never holds) are reported to GoogleTest.
//
// Ownership: TTestApp owns the widget set and the application (in that order). Threads: the
// test's thread, which is the GUI thread.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/msg/timer.h"
#include "platform/ui/core/application.h"
#include "platform/ui/core/peer.h"
#include "platform/ui/core/scrollbar.h"

namespace uitest {

// How long a box that waits for a condition keeps the loop running before the test fails: long
// enough for a peer on a loaded machine (the box closes as soon as its condition holds).
constexpr DWORD kBoxWaitLimitMs = 60000;
// The longest a headless wait blocks before the loop looks again.
constexpr DWORD kIdleSliceMs = 50;
constexpr int kCharWidth = 6;
constexpr int kLineHeight = 12;

class TFixedMeasurer : public TTextMeasurer {
 public:
  int TextWidth(const TFontData&, std::string_view text) override {
    return kCharWidth * static_cast<int>(text.size());
  }
  int TextHeight(const TFontData&) override { return kLineHeight; }
};

// One recorded primitive, in the client coordinates of the control that drew it.
struct TPaintOp {
  enum Kind { Fill, Line, Polygon, Text, FocusRect, Bitmap } kind = Fill;
  const TControl* control = nullptr;
  TRect rect;               // the filled rectangle, the text's box, the line's or polygon's bounds
  TColor color = clNone;    // fill, line or text colour (Polygon: the fill)
  TColor outline = clNone;  // Polygon
  std::vector<TPoint> points;  // Line (from, to) and Polygon
  std::string text;
  TFontData font;
};

// Records what is drawn inside the current clip; what lies wholly outside it is dropped.
class TRecordingDevice : public TPaintDevice {
 public:
  void SetTarget(const TControl* control, TPoint origin, const TRect& clip) override;
  void FillRect(const TRect& rect, TColor color) override;
  void Line(TPoint from, TPoint to, TColor color, int width, TPenStyle style) override;
  void Polygon(const std::vector<TPoint>& points, TColor fill, TColor outline) override;
  void Text(int x, int y, std::string_view text, const TFontData& font) override;
  void FocusRect(const TRect& rect) override;
  void Bitmap(int x, int y, const TBitmap& bitmap) override;

  std::vector<TPaintOp> Ops;
  // The texts drawn by control (all controls when null), in drawing order.
  std::vector<std::string> Texts(const TControl* control = nullptr) const;
  // The ops of one control.
  std::vector<TPaintOp> OpsOf(const TControl* control) const;

 private:
  void Add(TPaintOp op);
  const TControl* control_ = nullptr;
  TRect clip_;
};

class THeadlessWidgetSet;

// A window that remembers its state and the target it serves.
class THeadlessWindow : public TWindowPeer {
 public:
  THeadlessWindow(THeadlessWidgetSet* owner, TPeerTarget& target, const TWindowStyle& style);
  ~THeadlessWindow() override;
  void SetBounds(const TRect& screenRect) override { Bounds = screenRect; }
  void SetCaption(const std::string& caption) override { Caption = caption; }
  void SetVisible(bool visible) override;
  void SetModal(bool modal, TWindowPeer* owner) override {
    Modal = modal;
    Owner = owner;
  }
  void Invalidate(const TRect&) override { Invalid = true; }
  void Update() override {}
  void SetCursor(TCursor cursor) override { Cursor = cursor; }
  void Activate() override;

  TPeerTarget& Target;
  const TWindowStyle Style;
  TRect Bounds;
  std::string Caption;
  bool Visible = false;
  bool Modal = false;
  TWindowPeer* Owner = nullptr;  // given with SetModal
  bool Invalid = false;
  TCursor Cursor = crDefault;
  int Activations = 0;
  // Windows shown or raised later lie above; popups lie above every other window.
  int Stacking = 0;

 private:
  THeadlessWidgetSet* owner_;
};

// A box the test expects: its text, the captions of its buttons (not checked when empty), the
// answer, and optionally a condition: the box stays open, the loop handling messages, until it
// holds.
struct TBoxScript {
  std::string Text;
  std::vector<std::string> Buttons;
  int Answer = IDOK;
  std::function<bool()> Until;
};

class THeadlessWidgetSet : public TWidgetSet {
 public:
  std::unique_ptr<TWindowPeer> CreateWindowPeer(TPeerTarget& target,
                                                const TWindowStyle& style) override;
  TTextMeasurer& Measurer() override { return measurer_; }
  std::unique_ptr<TBoxPeer> CreateMessageBox(const TMessageBoxRequest& request) override;
  // A 1280 x 1024 screen whose bottom 30 pixels belong to a panel.
  TRect ScreenRect() override { return TRect{0, 0, 1280, 1024}; }
  TRect WorkArea() override { return TRect{0, 0, 1280, 994}; }
  void ProcessEvents() override {}
  // Waits in the message layer, at most kIdleSliceMs at a time.
  void WaitForEvents(DWORD ms) override;
  void SetClipboardText(const std::string& text) override { Clipboard = text; }
  void PasteClipboardText(TPeerTarget& target) override;
  void Beep() override { ++Beeps; }
  // Takes the next expected choice (see ExpectMenu); with none left chooses nothing.
  TMenuItem* TrackPopupMenu(TMenuItem& parent, TPoint p) override;

  // The pop-up menus to come, each chosen from as given (null: dismissed), and the parents of the
  // menus shown.
  void ExpectMenu(TMenuItem* choice) { menuChoices_.push_back(choice); }
  std::vector<TMenuItem*> MenusShown;
  // The topmost visible window at screen point p that takes the mouse there (null: none).
  THeadlessWindow* WindowAt(TPoint p) const;
  int NextStacking() { return ++stacking_; }

  // Boxes, in the order they are expected. A box that was not expected fails the test and
  // answers as closed without a button.
  void ExpectBox(TBoxScript script) { expected_.push_back(std::move(script)); }
  void ExpectBox(const std::string& text, int answer) {
    ExpectBox(TBoxScript{text, {}, answer, nullptr});
  }
  // Every box shown, and how many expected ones are still to come.
  std::vector<TMessageBoxRequest> Shown;
  size_t PendingBoxes() const { return expected_.size(); }

  std::vector<THeadlessWindow*> Windows;
  std::string Clipboard;
  int Beeps = 0;

 private:
  TFixedMeasurer measurer_;
  std::deque<TBoxScript> expected_;
  std::deque<TMenuItem*> menuChoices_;
  int stacking_ = 0;
};

// The application of a test, on a headless widget set.
struct TTestApp {
  THeadlessWidgetSet WidgetSet;
  TApplication App{&WidgetSet};
};

// The headless window of a form (null while it has none).
THeadlessWindow* WindowOf(TCustomForm* form);

// Paints the whole window of control's form and returns what was drawn.
std::unique_ptr<TRecordingDevice> Paint(TControl* control);

// Simulated input at client point x, y of control, delivered to its form as the peer would.
void Press(TControl* control, int x, int y, TMouseButton button = mbLeft, TShiftState shift = {});
void Move(TControl* control, int x, int y, TShiftState shift = {});
void Release(TControl* control, int x, int y, TMouseButton button = mbLeft, TShiftState shift = {});
void Click(TControl* control, int x, int y, TMouseButton button = mbLeft);
// A click, then a second press carrying ssDouble and its release.
void DblClick(TControl* control, int x, int y);
// A click at screen point p, delivered as the display would: to the topmost window there that
// takes the mouse (WindowAt). Returns that window (null: none, nothing delivered).
THeadlessWindow* ClickAt(THeadlessWidgetSet& widgetSet, TPoint p);
// The wheel turned by delta (120 a notch, positive away from the user) over client point x, y.
void Wheel(TControl* control, int x, int y, int delta, TShiftState shift = {});
// The centre of a part of one of control's scroll bars, in its client coordinates (outside the
// client area); throws std::logic_error when the bar or the part does not show.
TPoint ScrollBarPoint(TControl* control, TScrollBarKind kind, TScrollBarPart part);
// A click on that part; the thumb pressed, moved by distance pixels along its bar and let go.
void ClickScrollBar(TControl* control, TScrollBarKind kind, TScrollBarPart part);
void DragThumb(TControl* control, TScrollBarKind kind, int distance);
// Keys go to the form of control (to its active control).
void KeyDown(TControl* control, WORD key, TShiftState shift = {});
void KeyUp(TControl* control, WORD key, TShiftState shift = {});
void Key(TControl* control, WORD key, TShiftState shift = {});
void Type(TControl* control, const std::string& text);

// Runs the timer's OnTimer now when it is enabled with an interval.
void FireTimer(TTimer& timer);
// Handles posted messages until none is left or limit rounds have run; returns the number
// dispatched.
int Pump(int limit = 1000);

// Makes ProgramDir() return dir while the object lives.
class ScopedProgramDir {
 public:
  explicit ScopedProgramDir(const std::string& dir);
  ~ScopedProgramDir();
  ScopedProgramDir(const ScopedProgramDir&) = delete;
  ScopedProgramDir& operator=(const ScopedProgramDir&) = delete;
};

}  // namespace uitest

// The one interface between the window classes and whatever shows them: a peer. The classes
// draw, measure, lay out and decide everything themselves; a peer only puts top-level windows on
// a screen, draws what it is told and reports what the user does. It has four parts:
//   window   TWindowPeer   core -> peer: a top-level window's place, caption, visibility, cursor
//   paint    TPaintDevice  core -> peer: primitives, during a paint the peer asked for
//   input    TPeerTarget   peer -> core: paint requests, mouse, keys, text, close, resize
//   measure  TTextMeasurer core -> peer: text extents in a font
// TWidgetSet ties them together: it makes window peers, measures, waits for events and holds the
// clipboard. The FLTK peer draws on a display; the testkit's headless peer records and measures
// with fixed metrics. Both are driven through the same calls, so the classes behave alike.
//
// Threads: everything here belongs to the GUI thread (the thread that made the application).
// Ownership: the core owns the window peers it asks for; the peer borrows the target it is
// given, which outlives it. Text is CP932 bytes throughout; converting it for a display is the
// peer's work.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/msg/msg.h"
#include "platform/ui/core/colors.h"
#include "platform/ui/core/cursors.h"
#include "platform/ui/core/graphics.h"
#include "platform/ui/core/types.h"

class TControl;
class TMenuItem;

// Paint: the primitives a canvas draws with. Coordinates are the client coordinates of the
// control named by the last SetTarget; the device adds the origin and clips. A colour may be a
// system colour (the device resolves it with ColorToRGB) but never clNone.
class TPaintDevice {
 public:
  virtual ~TPaintDevice() = default;
  // The control that draws next, the window position of its client origin, and the clip in its
  // client coordinates (nothing outside it is touched).
  virtual void SetTarget(const TControl* control, TPoint origin, const TRect& clip) = 0;
  virtual void FillRect(const TRect& rect, TColor color) = 0;
  // A line from `from` up to, not including, `to`.
  virtual void Line(TPoint from, TPoint to, TColor color, int width, TPenStyle style) = 0;
  // A closed polygon, filled with fill and outlined with outline (either clNone: not done).
  virtual void Polygon(const std::vector<TPoint>& points, TColor fill, TColor outline) = 0;
  // One line of text in font, its top left at x, y, without background.
  virtual void Text(int x, int y, std::string_view text, const TFontData& font) = 0;
  // The dotted focus rectangle.
  virtual void FocusRect(const TRect& rect) = 0;
  // A picture with its top left at x, y (its alpha blended).
  virtual void Bitmap(int x, int y, const TBitmap& bitmap) = 0;
};

// Measure.
class TTextMeasurer {
 public:
  virtual ~TTextMeasurer() = default;
  // Width in pixels of text drawn in font on one line.
  virtual int TextWidth(const TFontData& font, std::string_view text) = 0;
  // Height in pixels of a line of text in font.
  virtual int TextHeight(const TFontData& font) = 0;
};

// Input: what a top-level window offers its peer. Points are in the peer window's coordinates
// (its top left is 0, 0). Every call runs the handlers it leads to before it returns; an
// exception from a handler is shown by the application (HandleException) and never reaches the
// peer.
class TPeerTarget {
 public:
  virtual ~TPeerTarget() = default;
  // Draws the window's content within update.
  virtual void PeerPaint(TPaintDevice& device, const TRect& update) = 0;
  // A button went down. A second press soon after the first at about the same place carries
  // ssDouble (a double click).
  virtual void PeerMouseDown(TMouseButton button, TShiftState shift, TPoint p) = 0;
  virtual void PeerMouseMove(TShiftState shift, TPoint p) = 0;
  virtual void PeerMouseUp(TMouseButton button, TShiftState shift, TPoint p) = 0;
  // The wheel turned: delta 120 per notch, positive away from the user.
  virtual void PeerMouseWheel(TShiftState shift, int delta, TPoint p) = 0;
  // The mouse left the window.
  virtual void PeerMouseLeave() = 0;
  // A key went down or up (virtual key code). Keys that type characters are followed by
  // PeerText; Enter, Backspace, Tab and Escape are not (the core makes their characters).
  virtual void PeerKeyDown(WORD key, TShiftState shift) = 0;
  virtual void PeerKeyUp(WORD key, TShiftState shift) = 0;
  // Typed or pasted text, CP932, possibly several characters and line breaks.
  virtual void PeerText(const std::string& text) = 0;
  // The user asked to close the window (its title-bar button, the window manager).
  virtual void PeerClose() = 0;
  // The window was resized or moved by the user or the window manager: its new size, and its
  // position on the screen.
  virtual void PeerResized(int width, int height) = 0;
  virtual void PeerMoved(TPoint screenPos) = 0;
  // The window got or lost the keyboard focus.
  virtual void PeerActivated(bool active) = 0;
};

enum class TWindowKind {
  Normal,      // title bar and frame
  Borderless,  // no decoration (splash, version window)
  Popup,       // no decoration, never takes the keyboard (menus, lists, hints)
};

struct TWindowStyle {
  TWindowKind Kind = TWindowKind::Normal;
  // Popup only: the mouse goes through the window to whatever lies below it (hints).
  bool MouseTransparent = false;
  bool Sizeable = true;
  bool CloseButton = true;
  bool MinimizeButton = true;
  bool MaximizeButton = true;
};

// Window: one top-level window on the screen. Destroying it removes the window.
class TWindowPeer {
 public:
  virtual ~TWindowPeer() = default;
  // Position (screen) and size of the window's content, without the window manager's frame.
  virtual void SetBounds(const TRect& screenRect) = 0;
  virtual void SetCaption(const std::string& caption) = 0;
  virtual void SetVisible(bool visible) = 0;
  // Makes the window modal, or ends that. A modal window belongs to owner (the window it was
  // opened from; null when none is shown), which the window manager keeps it above, and while it
  // is modal the program's other windows take no input. Called before the window is shown.
  virtual void SetModal(bool modal, TWindowPeer* owner) = 0;
  // Asks for a PeerPaint of rect (window coordinates) soon; Update paints what is asked now.
  virtual void Invalidate(const TRect& rect) = 0;
  virtual void Update() = 0;
  virtual void SetCursor(TCursor cursor) = 0;
  // Raises the window and gives it the keyboard.
  virtual void Activate() = 0;
};

// A message box on the screen. The core shows it and keeps handling its thread's messages until
// Result is no longer 0; destroying the peer takes the box away.
struct TBoxButton {
  std::string Caption;  // with an "&" before the accelerator
  int Result;           // the answer when the button is chosen (IDOK, IDYES, ...)
};
struct TMessageBoxRequest {
  std::string Text;
  std::string Caption;
  UINT Icon = 0;  // MB_ICONERROR, MB_ICONWARNING, MB_ICONQUESTION, MB_ICONINFORMATION or 0
  std::vector<TBoxButton> Buttons;
  int DefaultButton = 0;  // index into Buttons
  int CloseResult = 0;    // the answer when the box is closed without a button
  // The window the box belongs to, which the window manager keeps it above (null: none).
  TWindowPeer* Owner = nullptr;
};
class TBoxPeer {
 public:
  virtual ~TBoxPeer() = default;
  // 0 while the box is open, then the answer.
  virtual int Result() = 0;
};

class TWidgetSet {
 public:
  virtual ~TWidgetSet() = default;
  virtual std::unique_ptr<TWindowPeer> CreateWindowPeer(TPeerTarget& target,
                                                        const TWindowStyle& style) = 0;
  virtual TTextMeasurer& Measurer() = 0;
  // Puts a message box on the screen (modal to the program's windows).
  virtual std::unique_ptr<TBoxPeer> CreateMessageBox(const TMessageBoxRequest& request) = 0;
  // The whole screen, and the part of it windows should use (without panels and docks).
  virtual TRect ScreenRect() = 0;
  virtual TRect WorkArea() = 0;
  // Delivers the display events that are waiting, without blocking.
  virtual void ProcessEvents() = 0;
  // Blocks until a display event or a message of the calling thread's queue (platform/msg) is
  // there, a timer of that queue is due, or ms pass (INFINITE: no limit). Delivers the display
  // events that came; the caller dispatches the messages. Never spins.
  virtual void WaitForEvents(DWORD ms) = 0;
  virtual void SetClipboardText(const std::string& text) = 0;
  // Delivers the clipboard's text to target through PeerText, now or later; nothing when the
  // clipboard holds no text.
  virtual void PasteClipboardText(TPeerTarget& target) = 0;
  virtual void Beep() = 0;
  // Shows the visible children of parent as a pop-up menu (submenus for items with children)
  // with its top left at screen point p, and waits until the user chooses or dismisses it; the
  // thread's messages keep being handled meanwhile. Returns the chosen item (not clicked), or
  // null. Without a screen nothing is shown (null).
  virtual TMenuItem* TrackPopupMenu(TMenuItem& parent, TPoint p) { return nullptr; }
};

// The widget set of the running application (null before one is made and after it is gone).
TWidgetSet* CurrentWidgetSet();
void SetCurrentWidgetSet(TWidgetSet* widgetSet);

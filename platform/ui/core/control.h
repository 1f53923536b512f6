// Controls: TControl (a rectangle in its parent with alignment, visibility, enabling, font,
// colour, hint, cursor, mouse handling and painting), TWinControl (a control that holds child
// controls, lays them out by Align, takes the keyboard focus, and has a platform/msg window as its
// Handle), and the two bases the concrete controls derive from: TCustomControl (a window control
// that paints itself) and TGraphicControl (a control without a window of its own).
//
// Ownership: a control is a component; its owner (usually the form) frees it. A control placed
// in a parent (SetParent) is also freed by that parent when the parent goes first. Coordinates:
// Left and Top are in the parent's client coordinates; mouse positions handed to a control are
// in its own client coordinates. A control's client area is its bounds less its non-client part
// (a sunken border, scroll bars).
//
// Threads: every call belongs to the GUI thread. Handlers run inside the call that triggers them;
// a control is never freed by the core while one of its own handlers runs.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/msg/msg.h"
#include "platform/ui/core/canvas.h"
#include "platform/ui/core/cursors.h"
#include "platform/ui/core/graphics.h"
#include "platform/ui/core/types.h"
#include "rtl/classes.h"

class TWinControl;
class TCustomForm;
class TControlScrollBars;

using TMouseEvent =
    std::function<void(rtl::TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(rtl::TObject* Sender, TShiftState Shift, int X, int Y)>;
using TKeyEvent = std::function<void(rtl::TObject* Sender, WORD& Key, TShiftState Shift)>;
using TKeyPressEvent = std::function<void(rtl::TObject* Sender, char& Key)>;
using TContextPopupEvent =
    std::function<void(rtl::TObject* Sender, TPoint MousePos, bool& Handled)>;

class TControl : public rtl::TComponent {
 public:
  explicit TControl(rtl::TComponent* owner);
  ~TControl() override;

  // ---- place ----
  TWinControl* Parent() const { return parent_; }
  // Moves the control into parent's children (null: out of any parent). The control keeps
  // ParentFont and ParentColor links to the new parent.
  virtual void SetParent(TWinControl* parent);
  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetLeft(int value) { SetBounds(value, top_, width_, height_); }
  void SetTop(int value) { SetBounds(left_, value, width_, height_); }
  void SetWidth(int value) { SetBounds(left_, top_, value, height_); }
  void SetHeight(int value) { SetBounds(left_, top_, width_, value); }
  // Moves and sizes the control (sizes below 0 count as 0); the parent aligns its children again
  // when an aligned control changed.
  virtual void SetBounds(int left, int top, int width, int height);
  TRect BoundsRect() const { return Bounds(left_, top_, width_, height_); }
  void SetBoundsRect(const TRect& r) { SetBounds(r.Left, r.Top, r.Width(), r.Height()); }

  // The non-client part: how far the client area lies inside the bounds on each side.
  virtual TRect NonClientInsets() const { return TRect{}; }
  // (0, 0, ClientWidth, ClientHeight).
  TRect ClientRect() const;
  int ClientWidth() const { return ClientRect().Right; }
  int ClientHeight() const { return ClientRect().Bottom; }
  // Sizes the control so its client area gets that size.
  virtual void SetClientWidth(int value);
  virtual void SetClientHeight(int value);
  // Client point -> screen, and back.
  TPoint ClientToScreen(TPoint p) const;
  TPoint ScreenToClient(TPoint p) const;
  // Client point -> the coordinates of the top-level window's peer, and back.
  TPoint ClientToWindow(TPoint p) const;
  TPoint WindowToClient(TPoint p) const;

  TAlign Align() const { return align_; }
  void SetAlign(TAlign value);

  // ---- state ----
  bool Visible() const { return visible_; }
  virtual void SetVisible(bool value);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // Visible, and so are its parents up to a shown form.
  virtual bool Showing() const;
  bool Enabled() const { return enabled_; }
  virtual void SetEnabled(bool value);
  // Enabled, and so are its parents.
  bool IsEnabled() const;

  // The control's text (caption of labels, buttons, forms; the text of edits).
  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& value);
  const std::string& Text() const { return Caption(); }
  void SetText(const std::string& value) { SetCaption(value); }

  TFont* Font() { return &font_; }
  const TFont* Font() const { return &font_; }
  void SetFont(const TFont& value) { font_.Assign(value); }
  // True while the control takes its parent's font; setting the font clears it.
  bool ParentFont() const { return parentFont_; }
  void SetParentFont(bool value);
  TColor Color() const { return color_; }
  void SetColor(TColor value);
  bool ParentColor() const { return parentColor_; }
  void SetParentColor(bool value);

  // Hint text, shown in the hint window while the mouse rests on the control when ShowHint
  // holds. A "|" ends the part shown.
  std::string Hint;
  // The text the hint window shows: Hint up to its first "|".
  virtual std::string ShortHint() const;
  bool ShowHint() const;
  void SetShowHint(bool value);
  bool ParentShowHint() const { return parentShowHint_; }
  void SetParentShowHint(bool value) { parentShowHint_ = value; }

  TCursor Cursor = crDefault;
  // Not read by the classes; the forms keep what they like here.
  int HelpContext = 0;

  // ---- painting ----
  // Asks for the control to be drawn again soon (nothing while it is not showing).
  virtual void Invalidate();
  // Draws what was asked for now.
  void Update();
  void Repaint() {
    Invalidate();
    Update();
  }
  void Refresh() { Repaint(); }
  // Moves the control over its siblings.
  void BringToFront();

  // ---- actions ----
  // A left-button click: fires OnClick. Buttons and check boxes do more.
  virtual void Click();
  virtual void DblClick();

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TMouseEvent OnMouseDown;
  TMouseMoveEvent OnMouseMove;
  TMouseEvent OnMouseUp;
  TNotifyEvent OnResize;
  TContextPopupEvent OnContextPopup;

  // ---- life ----
  // True from construction inside a form's construction until the form's AfterConstruction
  // calls Loaded: the time a form's controls get their designed values.
  bool Loading() const { return loading_; }
  virtual void Loaded();
  // The form the control lies on (its top-level ancestor), or null.
  TCustomForm* ParentForm() const;

  // ---- what the window classes call (input routing, painting) ----
  // The deepest visible child at client point p (this when none); disabled ones count.
  virtual TControl* ControlAtPos(TPoint p);
  void DispatchMouseDown(TMouseButton button, TShiftState shift, TPoint p);
  void DispatchMouseMove(TShiftState shift, TPoint p);
  void DispatchMouseUp(TMouseButton button, TShiftState shift, TPoint p);
  bool DispatchMouseWheel(TShiftState shift, int delta, TPoint p);
  void DispatchMouseEnter() { MouseEnter(); }
  void DispatchMouseLeave() { MouseLeave(); }
  // Nothing over the scroll bars.
  void DispatchContextPopup(TPoint p, bool& handled);
  // The cursor over client point p.
  virtual TCursor CursorAt(TPoint p) const { return Cursor; }
  // The cursor the window shows over client point p: the arrow over the scroll bars, else
  // CursorAt.
  TCursor CursorOver(TPoint p) const;
  // The control's scroll bars, or null when it has none.
  TControlScrollBars* ControlScrollBars() const { return scrollBars_; }
  // Paints the control (its non-client part, its client area, then its children) within clip,
  // given in the window's coordinates; origin is the window position of the control's top left.
  virtual void PaintTo(TPaintDevice& device, TPoint origin, const TRect& clip);
  // Repaints this control's part of the window (client rectangle in client coordinates).
  void InvalidateRect(const TRect& rect);

 protected:
  // The canvas the control draws on; TCustomControl, TGraphicControl and forms publish it.
  TCanvas* Canvas() { return &canvas_; }
  // Draws the client area on Canvas(); the default fills it with Color.
  virtual void Paint();
  // Draws the non-client part on canvas, whose coordinates are the control's bounds (0, 0 at
  // its top left).
  virtual void PaintNonClient(TCanvas& canvas);
  virtual void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
  virtual void MouseMove(TShiftState Shift, int X, int Y);
  virtual void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
  virtual void MouseEnter() {}
  virtual void MouseLeave() {}
  // True when the wheel was used; the default passes it to the parent.
  virtual bool DoMouseWheel(TShiftState Shift, int WheelDelta, TPoint MousePos);
  // Fires OnContextPopup; MousePos is (-1, -1) when the keyboard asked.
  virtual void DoContextPopup(TPoint MousePos, bool& Handled);
  // After a change of bounds (OnResize).
  virtual void Resize();
  virtual void FontChanged() { Invalidate(); }
  virtual void TextChanged() { Invalidate(); }
  virtual void EnabledChanged() { Invalidate(); }
  virtual void VisibleChanged() {}
  // The parent's font or colour changed (for ParentFont and ParentColor).
  virtual void ParentFontChanged();
  virtual void ParentColorChanged();
  // Whether a press of this control counts as a click when released on it.
  bool MouseCaptured() const { return pressed_; }
  // Whether the control takes double clicks (the default): a second press soon after the first
  // carries ssDouble and fires DblClick instead of making a click. A control that does not
  // (a push button) takes every press as a press of its own, so each click counts.
  void SetDoubleClicks(bool value) { doubleClicks_ = value; }
  // Called when the control enters or leaves a parent or its ancestors change.
  virtual void ParentChanged() {}
  // Registers the control's scroll bars (a member of the derived control; null: none). They
  // take the mouse over them before the control's handlers and paint after PaintNonClient.
  void SetControlScrollBars(TControlScrollBars* bars) { scrollBars_ = bars; }
  // The client area changed size while the bounds stayed (a scroll bar came or went): the
  // control is drawn again, its children are aligned again and Resize runs, as after a change
  // of bounds.
  virtual void ClientAreaChanged();
  // For a control without a parent (a form): where its client area starts in its peer window.
  virtual TPoint ClientOriginInWindow() const { return TPoint{}; }
  // The effective colour to draw with: Color, resolved through ParentColor.
  TColor BackgroundColor() const { return color_; }
  void SetLoading(bool value) { loading_ = value; }
  // Keeps the font's OnChange from clearing ParentFont while the control copies a font itself.
  void AssignFontQuietly(const TFont& source);
  // Fires events only outside destruction.
  bool CanFire() const { return !Destroying(); }

 private:
  friend class TWinControl;
  void FontObjectChanged();
  void RequestParentAlign();

  TWinControl* parent_ = nullptr;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  TAlign align_ = alNone;
  bool visible_ = true;
  bool enabled_ = true;
  std::string caption_;
  TFont font_;
  bool parentFont_ = true;
  bool copyingFont_ = false;
  TColor color_ = clBtnFace;
  bool parentColor_ = false;
  bool showHint_ = false;
  bool parentShowHint_ = true;
  bool loading_ = false;
  bool pressed_ = false;  // a left press began on this control
  bool doubleClicks_ = true;
  TCanvas canvas_;
  TControlScrollBars* scrollBars_ = nullptr;
};

class TWinControl : public TControl {
 public:
  explicit TWinControl(rtl::TComponent* owner);
  ~TWinControl() override;

  int ControlCount() const { return static_cast<int>(controls_.size()); }
  // REQUIRES: 0 <= index < ControlCount(). In placing order, the first at the bottom.
  TControl* Controls(int index) const { return controls_[index]; }

  // ---- focus ----
  bool TabStop() const { return tabStop_; }
  void SetTabStop(bool value) { tabStop_ = value; }
  // Position in its parent's tab order (0 first).
  int TabOrder() const;
  void SetTabOrder(int value);
  // The focusable children in tab order.
  std::vector<TWinControl*> TabList() const;
  // Whether the control can get the keyboard now: it takes focus at all, and it and its parents
  // are visible and enabled.
  bool CanFocus() const;
  // True while the control is its form's active control.
  bool Focused() const;
  // Gives the control the keyboard focus. A control on a page that is not the active one shows
  // its page first (and so on up). A control that cannot take the focus after that (disabled,
  // hidden itself) stays without it; nothing is raised.
  virtual void SetFocus();

  // ---- window ----
  // A platform/msg window of the GUI thread whose messages go to WndProc; made on first use and
  // destroyed with the control. Messages may be posted to it from any thread.
  HWND Handle();
  bool HandleAllocated() const { return handle_ != 0; }
  // Sends a message to WndProc now; returns its Result.
  LRESULT Perform(UINT msg, WPARAM wParam, LPARAM lParam);

  // ---- layout ----
  // Lays out the aligned children again (also done after every change that needs it).
  void Realign();
  // Holds layout until the matching EnableAlign, which then aligns once.
  void DisableAlign() { ++alignDisabled_; }
  void EnableAlign();

  TKeyEvent OnKeyDown;
  TKeyEvent OnKeyUp;
  TKeyPressEvent OnKeyPress;
  TNotifyEvent OnEnter;
  TNotifyEvent OnExit;

  // ---- what the window classes call ----
  TControl* ControlAtPos(TPoint p) override;
  void PaintTo(TPaintDevice& device, TPoint origin, const TRect& clip) override;
  void SetBounds(int left, int top, int width, int height) override;
  // Keyboard input for the focused control. DispatchKeyDown returns false when the key was
  // consumed (OnKeyDown set it to 0, or the control used it).
  bool DispatchKeyDown(WORD& key, TShiftState shift);
  void DispatchKeyUp(WORD& key, TShiftState shift);
  void DispatchKeyPress(char& key);
  void DispatchText(const std::string& text) { TextInput(text); }
  // Whether the control handles key itself (so the form does not use it for navigation, the
  // default button or the cancel button). Arrows by default; Tab, Enter and Escape not.
  virtual bool WantsKey(WORD key, TShiftState shift) const;
  void DispatchEnter() { DoEnter(); }
  void DispatchExit() { DoExit(); }
  // Controls that take the focus when clicked (edits, buttons, grids, lists).
  bool TakesFocus() const { return takesFocus_; }
  // Makes this control and the pages it lies on visible for SetFocus: a tab sheet makes itself
  // its page control's active page.
  virtual void ShowForFocus() {}

 protected:
  // The message procedure of Handle(); the default does nothing.
  virtual void WndProc(TMessage& Message) {}
  virtual void KeyDown(WORD& Key, TShiftState Shift);
  virtual void KeyUp(WORD& Key, TShiftState Shift);
  virtual void KeyPress(char& Key);
  // Typed text. The default hands each single-byte character to KeyPress; text controls insert
  // the whole text.
  virtual void TextInput(const std::string& text);
  virtual void DoEnter();
  virtual void DoExit();
  // The part of the client area the aligned children share.
  virtual TRect AlignRect() const { return ClientRect(); }
  // Places the aligned children in rect (alTop, alBottom, alLeft, alRight, then alClient).
  virtual void AlignControls(TRect& rect);
  void ClientAreaChanged() override;
  void ParentFontChanged() override;
  void ParentColorChanged() override;
  void FontChanged() override;
  void SetTakesFocus(bool value) { takesFocus_ = value; }

 private:
  friend class TControl;
  void InsertControl(TControl* c);
  void RemoveControl(TControl* c);

  std::vector<TControl*> controls_;
  std::vector<TWinControl*> tabList_;
  bool tabStop_ = false;
  bool takesFocus_ = false;
  HWND handle_ = 0;
  int alignDisabled_ = 0;
  bool aligning_ = false;
};

// A window control that paints itself on its Canvas in Paint.
class TCustomControl : public TWinControl {
 public:
  explicit TCustomControl(rtl::TComponent* owner) : TWinControl(owner) {}
  using TControl::Canvas;
};

// A control without a window of its own: it cannot take the focus, and its parent gives it the
// mouse.
class TGraphicControl : public TControl {
 public:
  explicit TGraphicControl(rtl::TComponent* owner) : TControl(owner) {}
  using TControl::Canvas;
};

// The form the control lies on, or null.
TCustomForm* GetParentForm(const TControl* control);

// Draws a 3D frame inside rect: top and left in topLeft, bottom and right in bottomRight, width
// pixels each; rect shrinks by width on every side.
void Frame3D(TCanvas& canvas, TRect& rect, TColor topLeft, TColor bottomRight, int width);

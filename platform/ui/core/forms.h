// Forms: the top-level windows of the program. A form is a window control that owns a window
// peer while it is shown, routes the peer's input to its controls (mouse to the control under the
// pointer or the one that took the press, keys to the active control), paints its controls when
// the peer asks, and runs the show, close and modal life cycle with its events.
//
// Ownership: a form is a component (the application owns the forms it creates); it owns its
// window peer. Closing with caFree frees the form later, from the message loop (Release).
// Threads: the GUI thread only. Handlers run inside the call that triggers them; an exception
// from a handler called for the peer goes to Application->HandleException.
#pragma once

#include <memory>

#include "platform/ui/core/control.h"
#include "platform/ui/core/peer.h"

class TMainMenu;

enum TPosition { poDesigned, poDefault, poScreenCenter, poDesktopCenter, poMainFormCenter };
enum TBorderIcon { biSystemMenu, biMinimize, biMaximize, biHelp };
using TBorderIcons = rtl::TSet<TBorderIcon>;
enum TCloseAction { caNone, caHide, caFree, caMinimize };
using TCloseEvent = std::function<void(rtl::TObject* Sender, TCloseAction& Action)>;
using TCloseQueryEvent = std::function<void(rtl::TObject* Sender, bool& CanClose)>;

// The frame a window manager draws around a form with a border; Width and Height include it,
// ClientWidth and ClientHeight do not. A peer window holds the client area and the menu bar.
constexpr int kFormFrameWidth = 4;
constexpr int kFormCaptionHeight = 19;

class TCustomForm : public TWinControl {
 public:
  // Controls made after this call and before AfterConstruction are "loading".
  explicit TCustomForm(rtl::TComponent* owner);
  ~TCustomForm() override;

  // Ends construction: Loaded for every control the form owns, then OnCreate. The application's
  // CreateForm calls it; code that makes a form with new calls it itself. An exception from
  // OnCreate passes to the caller.
  virtual void AfterConstruction();
  // Starts destruction, once: OnDestroy, then the window goes and the owned controls are freed.
  // The base destructor calls it, but by then a derived form's members are gone: a form class
  // whose OnDestroy or controls use its own members calls it first in its destructor.
  void BeforeDestruction();

  TPosition Position = poDesigned;
  TBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TBorderStyle value);
  // A popup form (hints, lists) has no border and never takes the keyboard.
  bool Popup() const { return popup_; }
  // biHelp is kept and has no effect: the window managers offer no help button.
  TBorderIcons BorderIcons{biSystemMenu, biMinimize, biMaximize};
  // The form sees keys before its active control (OnKeyDown, OnKeyPress).
  bool KeyPreview = false;
  TMainMenu* Menu() const { return menu_; }
  void SetMenu(TMainMenu* menu);
  using TControl::Canvas;

  // Shows or hides the window. OnShow fires each time Visible turns true, OnHide each time it
  // turns false.
  void SetVisible(bool value) override;
  bool Showing() const override { return Visible(); }
  // Asks to close: OnCloseQuery may refuse (none assigned: nothing is asked), then OnClose picks
  // the action (caHide by default, caFree for nothing else). A modal form sets ModalResult
  // mrCancel instead and ShowModal does the rest. Closing the main form ends the application.
  void Close();
  // OnCloseQuery's answer (true when none is assigned).
  virtual bool CloseQuery();
  // Shows the form and handles messages until ModalResult is set, then closes it (a refused
  // close keeps it open) and returns the result. The window belongs to the active form (else
  // the main form), which the window manager keeps it above. REQUIRES: the form is not visible
  // (else EInvalidOperation).
  TModalResult ShowModal();
  TModalResult ModalResult() const { return modalResult_; }
  void SetModalResult(TModalResult value) { modalResult_ = value; }
  bool Modal() const { return modal_; }
  // Frees the form from the message loop, once the current handler is done.
  void Release();

  // The control with the keyboard focus (null: the form itself).
  TWinControl* ActiveControl() const { return activeControl_; }
  // Moves the focus: OnExit of the old control, OnEnter of the new one. null clears it.
  void SetActiveControl(TWinControl* control);
  void SetFocus() override;
  // Moves the focus to the next (or previous) focusable control in tab order.
  void SelectNext(bool forward);

  TNotifyEvent OnCreate;
  TNotifyEvent OnDestroy;
  TNotifyEvent OnShow;
  TNotifyEvent OnHide;
  TNotifyEvent OnActivate;
  TNotifyEvent OnDeactivate;
  TNotifyEvent OnPaint;
  TCloseQueryEvent OnCloseQuery;
  TCloseEvent OnClose;

  // Moves and sizes the form and its window.
  void SetBounds(int left, int top, int width, int height) override;

  // ---- what the peer and the controls use ----
  TRect NonClientInsets() const override;
  // The entry points of the window peer (the testkit drives them too).
  TPeerTarget& PeerTarget();
  TWindowPeer* WindowPeer() const { return peer_.get(); }
  void InvalidateWindow(const TRect& windowRect);
  void UpdateWindow();
  // A control leaves the form or is hidden: the form forgets it (focus, capture, hover).
  void ControlRemoved(TControl* control);
  // The control that took the last press and gets the mouse until it is released.
  TControl* MouseCapture() const { return capture_; }
  TControl* HoverControl() const { return hover_; }
  // Updates the peer's cursor (Screen->Cursor or the hovered control's).
  void UpdateCursor();

 protected:
  void Paint() override;
  TPoint ClientOriginInWindow() const override;
  void Resize() override;
  virtual void DoClose(TCloseAction& action);
  void SetPopup(bool value) { popup_ = value; }
  // A popup the mouse goes through to what lies below (a hint).
  void SetMouseTransparent(bool value) { mouseTransparent_ = value; }
  void TextChanged() override;

 private:
  class Target;
  friend class Target;
  void CreatePeer();
  void PlacePeer();
  int MenuHeight() const;
  // Runs fn; an exception goes to the application.
  template <typename Fn>
  void Guarded(Fn&& fn);
  void RouteMouseDown(TMouseButton button, TShiftState shift, TPoint p);
  void RouteMouseMove(TShiftState shift, TPoint p);
  void RouteMouseUp(TMouseButton button, TShiftState shift, TPoint p);
  void RouteKeyDown(WORD key, TShiftState shift);
  void RouteKeyUp(WORD key, TShiftState shift);
  void RouteText(const std::string& text);
  void SetHover(TControl* control);

  std::unique_ptr<Target> target_;
  std::unique_ptr<TWindowPeer> peer_;
  TBorderStyle borderStyle_ = bsSizeable;
  TMainMenu* menu_ = nullptr;
  TWinControl* activeControl_ = nullptr;
  TControl* capture_ = nullptr;
  TControl* hover_ = nullptr;
  TPoint hoverPoint_;  // the pointer in the client coordinates of hover_ (or capture_)
  TModalResult modalResult_ = mrNone;
  bool modal_ = false;
  bool placed_ = false;
  bool closing_ = false;
  bool popup_ = false;
  bool mouseTransparent_ = false;
  bool destroyed_ = false;
};

class TForm : public TCustomForm {
 public:
  explicit TForm(rtl::TComponent* owner) : TCustomForm(owner) {}
};

// The application: its forms, the message loop that serves the display and the thread's
// platform/msg queue together, exception reporting and message boxes; and the screen (size,
// forms, the program-wide cursor).
//
// One TApplication exists at a time, made by the program (or a test) with the widget set it runs
// on; Application and Screen point at it and its screen while it lives. It owns the forms made
// by CreateForm and frees them when it goes. Threads: the GUI thread only (the thread that made
// it); other threads reach it by posting to a window.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/core/boxes.h"
#include "platform/ui/core/forms.h"
#include "platform/ui/core/hintwindow.h"
#include "platform/ui/core/peer.h"
#include "rtl/exception.h"

RTL_DECLARE_EXCEPTION(EInvalidOperation, rtl::Exception);

// Message boxes nested deeper than this are not shown: their text goes to stderr and they answer
// as if closed without a button. A box handler that keeps failing cannot stack boxes forever.
constexpr int kMaxNestedBoxes = 16;

class TScreen {
 public:
  explicit TScreen(TWidgetSet* widgetSet) : widgetSet_(widgetSet) { SetUiFont(menuFont_); }

  // Shown over every window of the program when not crDefault (crHourGlass while busy).
  TCursor Cursor() const { return cursor_; }
  void SetCursor(TCursor value);
  int Width() const { return widgetSet_->ScreenRect().Width(); }
  int Height() const { return widgetSet_->ScreenRect().Height(); }
  TRect WorkAreaRect() const { return widgetSet_->WorkArea(); }
  // The font of the menu bars (the desktop's menu font): the desktop's UI font (SetUiFont).
  TFont& MenuFont() { return menuFont_; }

  int FormCount() const { return static_cast<int>(forms_.size()); }
  TCustomForm* Forms(int index) const { return forms_[index]; }
  // The form that has the keyboard, or null.
  TCustomForm* ActiveForm() const { return activeForm_; }

  // Kept by the forms.
  void AddForm(TCustomForm* form) { forms_.push_back(form); }
  void RemoveForm(TCustomForm* form);
  void SetActiveForm(TCustomForm* form) { activeForm_ = form; }

  // The drop-down list that is open: the control it drops from (null: none) and its popup form.
  // One is open at a time; opening another closes the first. The forms close it (closeUp) when a
  // press lands neither on the list nor on its control, and when the control's form loses the
  // keyboard, moves or hides.
  TControl* DropDownControl() const { return dropDownControl_; }
  void DropDownOpened(TControl* control, TCustomForm* list, std::function<void()> closeUp);
  // The control closed its list itself: nothing is called.
  void DropDownClosed(const TControl* control);
  // Closes the open list, if any (its closeUp).
  void CloseDropDown();
  // Whether a press on control, which lies on form, belongs to the open list (on the list or on
  // the control it drops from); true when none is open.
  bool InsideDropDown(const TCustomForm* form, const TControl* control) const;

 private:
  TWidgetSet* widgetSet_;
  TCursor cursor_ = crDefault;
  TFont menuFont_;
  std::vector<TCustomForm*> forms_;
  TCustomForm* activeForm_ = nullptr;
  TControl* dropDownControl_ = nullptr;
  TCustomForm* dropDownList_ = nullptr;
  std::function<void()> closeUp_;
};

class TApplication : public rtl::TComponent {
 public:
  // Makes widgetSet current (borrowed; it outlives the application). REQUIRES: no other
  // application exists.
  explicit TApplication(TWidgetSet* widgetSet);
  ~TApplication() override;

  std::string Title;
  // Whether Run shows the main form.
  bool ShowMainForm = true;
  // Hints are shown for controls whose ShowHint holds.
  bool ShowHint = true;
  // Kept for the forms that set it; metrics never change here.
  bool UpdateMetricSettings = true;
  // Milliseconds the pointer rests on a control before its hint shows, and the hint stays.
  int HintPause = 500;
  int HintHidePause = 2500;
  // The hint window and its timers, made on first use.
  THintController& Hints();
  // True while the application goes: a form that the pointer moves onto meanwhile (as windows
  // go, the display moves it onto what lies below) shows no hint, and none is made again.
  bool Ending() const { return ending_; }
  // Null while no hint was ever asked for.
  THintController* HintsIfAny() const { return hints_.get(); }

  // Makes a form of type T owned by the application, stores it in ref (before OnCreate runs, so
  // handlers can use ref) and finishes it (AfterConstruction). The first form made is the main
  // form. An exception from OnCreate is shown (HandleException); when that form is the main form
  // the application is terminated, so Run shows nothing.
  template <typename T>
  void CreateForm(T*& ref) {
    T* form = new T(this);
    ref = form;
    FinishForm(form);
  }
  TCustomForm* MainForm() const { return mainForm_; }

  // Shows the main form and handles messages until Terminate, the main form's close or a quit
  // message. Returns at once when already terminated.
  void Run();
  // Ends Run (and every modal loop) the next time the loop looks at its queue.
  void Terminate() { terminated_ = true; }
  bool Terminated() const { return terminated_; }
  // Handles the display events and the messages waiting now, without blocking.
  void ProcessMessages() { DispatchPending(); }
  // Like ProcessMessages; returns how many queued messages were dispatched.
  int DispatchPending();
  // Handles what is waiting, or waits for something and handles that.
  void HandleMessage();

  // Shows the exception's message in an OK box titled with Title (anything not derived from
  // std::exception shows a fixed text). Called inside a catch block: HandleException() reports
  // the exception being handled.
  void HandleException(const std::exception& e);
  void HandleException();

  // A message box with text and the buttons and icon of flags (MB_OK, MB_YESNO, MB_YESNOCANCEL,
  // MB_ICON...); an empty caption gives Title. Messages keep being handled while it is open.
  // Returns IDOK, IDYES, IDNO or IDCANCEL; closed without a button: IDCANCEL (IDNO for MB_YESNO,
  // IDOK for MB_OK). A box shown while the application ends still waits for its answer.
  int MessageBox(const std::string& text, const std::string& caption, UINT flags);
  int BoxDepth() const { return boxDepth_; }
  // The window a modal form or a message box belongs to: the active form, else the main form,
  // when it is shown and not except; null when neither is.
  TWindowPeer* ModalOwner(const TCustomForm* except = nullptr) const;

  // A window of the GUI thread for the application's own messages (form release).
  HWND Handle() const { return handle_; }
  TWidgetSet& WidgetSet() const { return *widgetSet_; }

 private:
  void FinishForm(TCustomForm* form);
  void WndProc(TMessage& m);

  TWidgetSet* widgetSet_;
  std::unique_ptr<TScreen> screen_;
  std::unique_ptr<THintController> hints_;
  TCustomForm* mainForm_ = nullptr;
  HWND handle_ = 0;
  bool terminated_ = false;
  bool ending_ = false;
  int boxDepth_ = 0;
};

// The running application and its screen (null when there is none).
extern TApplication* Application;
extern TScreen* Screen;

// An OK box with text, titled with the application's title.
void ShowMessage(const std::string& text);

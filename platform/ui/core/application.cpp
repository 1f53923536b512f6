#include "platform/ui/core/application.h"

#include <algorithm>
#include <cstdio>

TApplication* Application = nullptr;
TScreen* Screen = nullptr;

namespace {
// The application window's message: lParam is a form to free (TCustomForm::Release).
constexpr UINT kReleaseForm = WM_USER;
}  // namespace

void TScreen::SetCursor(TCursor value) {
  if (value == cursor_) return;
  cursor_ = value;
  for (TCustomForm* f : forms_)
    f->UpdateCursor();
}

void TScreen::RemoveForm(TCustomForm* form) {
  forms_.erase(std::remove(forms_.begin(), forms_.end(), form), forms_.end());
  if (activeForm_ == form) activeForm_ = nullptr;
  // A list that goes while open closes nothing more.
  if (dropDownList_ == form) DropDownClosed(dropDownControl_);
}

void TScreen::DropDownOpened(TControl* control, TCustomForm* list, std::function<void()> closeUp) {
  if (control != dropDownControl_) CloseDropDown();
  dropDownControl_ = control;
  dropDownList_ = list;
  closeUp_ = std::move(closeUp);
}

void TScreen::DropDownClosed(const TControl* control) {
  if (control != dropDownControl_) return;
  dropDownControl_ = nullptr;
  dropDownList_ = nullptr;
  closeUp_ = nullptr;
}

void TScreen::CloseDropDown() {
  if (!dropDownControl_) return;
  std::function<void()> closeUp = std::move(closeUp_);
  DropDownClosed(dropDownControl_);
  if (closeUp) closeUp();
}

bool TScreen::InsideDropDown(const TCustomForm* form, const TControl* control) const {
  if (!dropDownControl_ || form == dropDownList_) return true;
  for (const TControl* c = control; c; c = c->Parent())
    if (c == dropDownControl_) return true;
  return false;
}

TApplication::TApplication(TWidgetSet* widgetSet)
    : widgetSet_(widgetSet), screen_(std::make_unique<TScreen>(widgetSet)) {
  if (Application) throw EInvalidOperation("An application already exists");
  SetCurrentWidgetSet(widgetSet);
  Application = this;
  Screen = screen_.get();
  handle_ = AllocateHWnd([this](TMessage& m) { WndProc(m); });
}

TApplication::~TApplication() {
  ending_ = true;
  hints_.reset();
  DestroyComponents();
  DeallocateHWnd(handle_);
  Screen = nullptr;
  Application = nullptr;
  SetCurrentWidgetSet(nullptr);
}

THintController& TApplication::Hints() {
  if (!hints_) hints_ = std::make_unique<THintController>(this);
  return *hints_;
}

void TApplication::WndProc(TMessage& m) {
  if (m.Msg != kReleaseForm) return;
  auto* form = reinterpret_cast<TCustomForm*>(m.LParam);
  // Only a form that still exists: it may have been freed another way since.
  for (int i = 0; i < Screen->FormCount(); ++i)
    if (Screen->Forms(i) == form) {
      if (form == mainForm_) mainForm_ = nullptr;
      delete form;
      return;
    }
}

void TApplication::FinishForm(TCustomForm* form) {
  bool isMain = mainForm_ == nullptr;
  if (isMain) mainForm_ = form;
  try {
    form->AfterConstruction();
  } catch (...) {
    HandleException();
    // A main form whose creation failed is never shown: the program ends.
    if (isMain) Terminate();
  }
}

void TApplication::Run() {
  if (terminated_) return;
  if (mainForm_ && ShowMainForm) {
    try {
      mainForm_->Show();
    } catch (...) {
      HandleException();
    }
  }
  while (!terminated_)
    HandleMessage();
}

int TApplication::DispatchPending() {
  int n = 0;
  try {
    widgetSet_->ProcessEvents();
    n = ::ProcessMessages();
  } catch (...) {
    HandleException();
    n = 1;
  }
  // A quit message ends the loops; it stays queued for loops below this one.
  if (QuitPending()) Terminate();
  return n;
}

void TApplication::HandleMessage() {
  if (DispatchPending() > 0 || terminated_) return;
  widgetSet_->WaitForEvents(INFINITE);
  DispatchPending();
}

void TApplication::HandleException(const std::exception& e) {
  auto* ex = dynamic_cast<const rtl::Exception*>(&e);
  std::string text = ex ? ex->Message : std::string(e.what());
  MessageBox(text, Title, MB_OK | MB_ICONERROR);
}

void TApplication::HandleException() {
  try {
    throw;
  } catch (const std::exception& e) {
    HandleException(e);
  } catch (...) {
    MessageBox("Unknown exception", Title, MB_OK | MB_ICONERROR);
  }
}

int TApplication::MessageBox(const std::string& text, const std::string& caption, UINT flags) {
  TMessageBoxRequest request = MakeBoxRequest(text, caption.empty() ? Title : caption, flags);
  request.Owner = ModalOwner();
  if (boxDepth_ >= kMaxNestedBoxes) {
    std::fprintf(stderr, "%s: %s\n", request.Caption.c_str(), request.Text.c_str());
    return request.CloseResult;
  }
  ++boxDepth_;
  struct Depth {
    int& d;
    ~Depth() { --d; }
  } depth{boxDepth_};
  std::unique_ptr<TBoxPeer> box = widgetSet_->CreateMessageBox(request);
  int result;
  // A box stays until it is answered, also once the application is ending: its text may say why.
  while ((result = box->Result()) == 0)
    HandleMessage();
  return result;
}

TWindowPeer* TApplication::ModalOwner(const TCustomForm* except) const {
  for (TCustomForm* form : {Screen->ActiveForm(), mainForm_})
    if (form && form != except && form->Visible() && !form->Popup() && form->WindowPeer())
      return form->WindowPeer();
  return nullptr;
}

void ShowMessage(const std::string& text) {
  Application->MessageBox(text, Application->Title, MB_OK);
}

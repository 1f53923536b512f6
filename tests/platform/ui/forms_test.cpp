#include "platform/ui/core/forms.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/msg/timer.h"
#include "platform/ui/core/application.h"
#include "platform/ui/core/comctrls.h"
#include "platform/ui/core/menus.h"
#include "platform/ui/core/stdctrls.h"
#include "platform/ui/testkit/testkit.h"
#include "rtl/files.h"

namespace {

using uitest::TTestApp;

// A form that logs its life-cycle events.
class LogForm : public TForm {
 public:
  explicit LogForm(rtl::TComponent* owner) : TForm(owner) {
    OnCreate = [this](rtl::TObject*) {
      log.push_back("create");
      if (terminateInCreate) Application->Terminate();
    };
    OnShow = [this](rtl::TObject*) { log.push_back("show"); };
    OnHide = [this](rtl::TObject*) { log.push_back("hide"); };
    OnClose = [this](rtl::TObject*, TCloseAction&) { log.push_back("close"); };
  }
  std::vector<std::string> log;
  static inline bool terminateInCreate = false;
};

TEST(Form, OnShowFiresEachTimeTheFormBecomesVisible) {
  TTestApp kit;
  LogForm* form;
  kit.App.CreateForm(form);
  form->Show();
  form->Show();  // already visible: no second OnShow
  form->Hide();
  form->Show();
  EXPECT_EQ(form->log, (std::vector<std::string>{"create", "show", "hide", "show"}));
  ASSERT_NE(uitest::WindowOf(form), nullptr);
  EXPECT_TRUE(uitest::WindowOf(form)->Visible);
}

TEST(Form, CloseQueryRefusalKeepsTheFormAndARemovedHandlerAsksNothing) {
  TTestApp kit;
  LogForm *main, *second;
  kit.App.CreateForm(main);
  kit.App.CreateForm(second);
  second->Show();
  int asked = 0;
  second->OnCloseQuery = [&](rtl::TObject*, bool& canClose) {
    ++asked;
    canClose = false;
  };
  uitest::WindowOf(second)->Target.PeerClose();
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(second->Visible());
  EXPECT_EQ(second->log.back(), "show");

  second->OnCloseQuery = nullptr;
  second->Close();
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(second->Visible());
  EXPECT_FALSE(kit.App.Terminated());
}

TEST(Form, CloseActionDecidesWhatHappens) {
  struct Case {
    TCloseAction action;
    bool visibleAfter;
    bool freed;
  };
  const Case cases[] = {{caNone, true, false}, {caHide, false, false}, {caFree, false, true}};
  for (const Case& c : cases) {
    TTestApp kit;
    LogForm *main, *second;
    kit.App.CreateForm(main);
    kit.App.CreateForm(second);
    bool freed = false;
    second->OnDestroy = [&](rtl::TObject*) { freed = true; };
    second->OnClose = [&](rtl::TObject*, TCloseAction& a) { a = c.action; };
    second->Show();
    second->Close();
    uitest::Pump();
    EXPECT_EQ(freed, c.freed) << c.action;
    if (!freed) {
      EXPECT_EQ(second->Visible(), c.visibleAfter) << c.action;
    }
  }
}

TEST(Application, ClosingTheMainFormEndsRun) {
  TTestApp kit;
  LogForm* form;
  kit.App.CreateForm(form);
  // The posted message closes the form from inside Run.
  HWND w = AllocateHWnd([&](TMessage&) { form->Close(); });
  PostMessage(w, WM_USER, 0, 0);
  kit.App.Run();
  EXPECT_TRUE(kit.App.Terminated());
  EXPECT_EQ(form->log, (std::vector<std::string>{"create", "show", "close", "hide"}));
  DeallocateHWnd(w);
}

TEST(Application, TerminateFromOnCreateShowsNoMainForm) {
  TTestApp kit;
  LogForm::terminateInCreate = true;
  LogForm* form;
  kit.App.CreateForm(form);
  LogForm::terminateInCreate = false;
  kit.App.Run();  // returns at once
  EXPECT_EQ(form->log, (std::vector<std::string>{"create"}));
  EXPECT_EQ(uitest::WindowOf(form), nullptr);
}

class FailingForm : public TForm {
 public:
  explicit FailingForm(rtl::TComponent* owner) : TForm(owner) {
    OnCreate = [](rtl::TObject*) { throw rtl::EInOutError("cannot read settings", 2); };
  }
};

TEST(Application, FailedMainFormCreationIsShownAndEndsTheProgram) {
  TTestApp kit;
  kit.App.Title = "Console";
  kit.WidgetSet.ExpectBox("cannot read settings", IDOK);
  FailingForm* form;
  kit.App.CreateForm(form);
  kit.App.Run();
  EXPECT_EQ(uitest::WindowOf(form), nullptr);
  ASSERT_EQ(kit.WidgetSet.Shown.size(), 1u);
  EXPECT_EQ(kit.WidgetSet.Shown[0].Caption, "Console");
}

TEST(Application, FormHandleReceivesPostedMessages) {
  TTestApp kit;
  struct Receiver : TForm {
    using TForm::TForm;
    std::vector<UINT> got;
    void WndProc(TMessage& m) override { got.push_back(m.Msg); }
  };
  Receiver* form;
  kit.App.CreateForm(form);
  ASSERT_TRUE(PostMessage(form->Handle(), WM_USER + 1, 0, 0));
  EXPECT_EQ(uitest::Pump(), 1);
  EXPECT_EQ(form->got, (std::vector<UINT>{WM_USER + 1}));
}

// ---- message boxes ----

TEST(MessageBox, ButtonsAnswersAndCloseResults) {
  struct Case {
    UINT flags;
    std::vector<std::string> captions;
    int closeResult;
  };
  const Case cases[] = {
      {MB_OK, {"OK"}, IDOK},
      {MB_YESNO, {kBoxCaptionYes, kBoxCaptionNo}, IDNO},
      {MB_YESNOCANCEL, {kBoxCaptionYes, kBoxCaptionNo, kBoxCaptionCancel}, IDCANCEL},
  };
  for (const Case& c : cases) {
    TMessageBoxRequest r = MakeBoxRequest("text", "title", c.flags);
    std::vector<std::string> captions;
    for (auto& b : r.Buttons)
      captions.push_back(b.Caption);
    EXPECT_EQ(captions, c.captions);
    EXPECT_EQ(r.CloseResult, c.closeResult);
  }
  // The captions are CP932 bytes: "はい(&Y)" is two double-byte characters and four bytes.
  EXPECT_EQ(std::string(kBoxCaptionYes), "\x82\xcd\x82\xa2(&Y)");
}

TEST(MessageBox, PumpsPostedMessagesWhileOpen) {
  TTestApp kit;
  kit.App.Title = "Console";
  int delivered = 0;
  HWND w = AllocateHWnd([&](TMessage&) { ++delivered; });
  PostMessage(w, WM_USER, 0, 0);
  PostMessage(w, WM_USER, 0, 0);
  kit.WidgetSet.ExpectBox(
      uitest::TBoxScript{"Continue?", {}, IDYES, [&] { return delivered == 2; }});
  EXPECT_EQ(kit.App.MessageBox("Continue?", "", MB_YESNO), IDYES);
  EXPECT_EQ(delivered, 2);
  EXPECT_EQ(kit.WidgetSet.Shown.at(0).Caption, "Console");
  DeallocateHWnd(w);
}

TEST(MessageBox, NestingPastTheCapGoesToStderr) {
  TTestApp kit;
  // Each box opens another from inside its loop, through a posted message.
  int opened = 0;
  std::vector<int> answers;
  HWND w = 0;
  w = AllocateHWnd([&](TMessage&) {
    ++opened;
    PostMessage(w, WM_USER, 0, 0);
    answers.push_back(kit.App.MessageBox("again", "", MB_YESNO));
  });
  for (int i = 0; i < kMaxNestedBoxes; ++i)
    kit.WidgetSet.ExpectBox(
        uitest::TBoxScript{"again", {}, IDYES, [&] { return opened > kMaxNestedBoxes; }});
  testing::internal::CaptureStderr();
  PostMessage(w, WM_USER, 0, 0);
  uitest::Pump(1);
  std::string err = testing::internal::GetCapturedStderr();
  DeallocateHWnd(w);
  EXPECT_EQ(kit.WidgetSet.Shown.size(), static_cast<size_t>(kMaxNestedBoxes));
  EXPECT_NE(err.find("again"), std::string::npos);
  // The box beyond the cap answers as closed (No), the shown ones as scripted.
  ASSERT_FALSE(answers.empty());
  EXPECT_EQ(answers.front(), IDNO);
  EXPECT_EQ(answers.back(), IDYES);
}

TEST(MessageBox, HandleExceptionShowsTheMessage) {
  TTestApp kit;
  kit.WidgetSet.ExpectBox("broken", IDOK);
  try {
    throw rtl::Exception("broken");
  } catch (...) {
    kit.App.HandleException();
  }
  EXPECT_EQ(kit.WidgetSet.PendingBoxes(), 0u);
}

// ---- modal forms ----

TEST(ShowModal, TimerFiresAndMessagesFlowInsideTheModalLoop) {
  TTestApp kit;
  LogForm *main, *dialog;
  kit.App.CreateForm(main);
  kit.App.CreateForm(dialog);
  TTimer timer(dialog);
  timer.SetInterval(1);
  int ticks = 0;
  timer.OnTimer = [&](rtl::TObject*) {
    if (++ticks == 2) dialog->SetModalResult(mrOk);
  };
  EXPECT_EQ(dialog->ShowModal(), mrOk);
  EXPECT_EQ(ticks, 2);
  EXPECT_FALSE(dialog->Visible());
  EXPECT_FALSE(dialog->Modal());
  EXPECT_THROW(
      {
        dialog->Show();
        dialog->ShowModal();
      },
      EInvalidOperation);
}

TEST(ShowModal, RefusedCloseKeepsTheLoopRunning) {
  TTestApp kit;
  LogForm *main, *dialog;
  kit.App.CreateForm(main);
  kit.App.CreateForm(dialog);
  int asks = 0;
  HWND w = AllocateHWnd([&](TMessage&) { dialog->Close(); });
  // The first close is refused and asks for another one.
  dialog->OnCloseQuery = [&](rtl::TObject*, bool& can) {
    can = ++asks >= 2;
    if (!can) PostMessage(w, WM_USER, 0, 0);
  };
  PostMessage(w, WM_USER, 0, 0);
  EXPECT_EQ(dialog->ShowModal(), mrCancel);
  EXPECT_EQ(asks, 2);
  DeallocateHWnd(w);
}

// A modal window and a message box belong to the window they were opened from, which the window
// manager then keeps them above: the active form, else the main form. A box opened inside a modal
// form belongs to that form.
TEST(ShowModal, TheWindowAndItsBoxesBelongToTheFormTheyWereOpenedFrom) {
  TTestApp kit;
  LogForm *main, *other, *dialog;
  kit.App.CreateForm(main);
  kit.App.CreateForm(other);
  kit.App.CreateForm(dialog);
  main->Show();
  other->Show();
  struct Seen {
    bool modal = false;
    TWindowPeer* owner = nullptr;
  };
  auto showModal = [&] {
    Seen seen;
    TTimer timer(dialog);
    timer.SetInterval(1);
    timer.OnTimer = [&](rtl::TObject*) {
      timer.SetEnabled(false);
      seen = {uitest::WindowOf(dialog)->Modal, uitest::WindowOf(dialog)->Owner};
      kit.WidgetSet.ExpectBox("inside", IDOK);
      kit.App.MessageBox("inside", "", MB_OK);
      dialog->SetModalResult(mrOk);
    };
    EXPECT_EQ(dialog->ShowModal(), mrOk);
    return seen;
  };
  // No form has the keyboard: the main form.
  Seen seen = showModal();
  EXPECT_TRUE(seen.modal);
  EXPECT_EQ(seen.owner, main->WindowPeer());
  ASSERT_EQ(kit.WidgetSet.Shown.size(), 1u);
  EXPECT_EQ(kit.WidgetSet.Shown[0].Owner, main->WindowPeer());
  EXPECT_FALSE(uitest::WindowOf(dialog)->Modal);
  // The other form has it: the dialog belongs to that one. The dialog takes the keyboard as it
  // shows (the peer says so), and a box inside belongs to the dialog.
  other->PeerTarget().PeerActivated(true);
  kit.WidgetSet.Shown.clear();
  dialog->OnShow = [&](rtl::TObject*) { dialog->PeerTarget().PeerActivated(true); };
  seen = showModal();
  EXPECT_EQ(seen.owner, other->WindowPeer());
  ASSERT_EQ(kit.WidgetSet.Shown.size(), 1u);
  EXPECT_EQ(kit.WidgetSet.Shown[0].Owner, dialog->WindowPeer());
  // A box with no form shown belongs to no window.
  main->Hide();
  other->Hide();
  Screen->SetActiveForm(nullptr);
  kit.WidgetSet.ExpectBox("alone", IDOK);
  kit.App.MessageBox("alone", "", MB_OK);
  EXPECT_EQ(kit.WidgetSet.Shown.back().Owner, nullptr);
}

// After a menu's choice the pointer rests where the item was, over a tool button: its hint shows
// just below, over whatever the user clicks next. That click reaches the control below the hint.
TEST(Menu, TheClickAfterAMenuChoiceReachesItsControl) {
  TTestApp kit;
  TForm* form;
  kit.App.CreateForm(form);
  form->SetBounds(0, 0, 400, 300);
  auto* menu = new TMainMenu(form);
  auto* file = new TMenuItem(form);
  file->Caption = "&File";
  menu->Items()->Add(file);
  auto* save = new TMenuItem(form);
  save->Caption = "&Save";
  file->Add(save);
  int saves = 0;
  save->OnClick = [&](rtl::TObject*) { ++saves; };
  form->SetMenu(menu);
  auto* bar = new TToolBar(form);
  bar->SetParent(form);
  bar->SetAlign(alTop);
  bar->SetHeight(29);
  auto* tool = new TToolButton(form);
  tool->SetParent(bar);
  tool->Hint = "Save";
  tool->SetShowHint(true);
  auto* button = new TButton(form);
  button->SetParent(form);
  button->SetBounds(0, 29, 200, 60);
  int clicks = 0;
  button->OnClick = [&](rtl::TObject*) { ++clicks; };
  form->Show();

  kit.WidgetSet.ExpectMenu(save);
  uitest::Click(form, 10, 5 - kMenuBarHeight);  // on "File" in the menu bar
  ASSERT_EQ(kit.WidgetSet.MenusShown, (std::vector<TMenuItem*>{file}));
  EXPECT_EQ(saves, 1);
  uitest::Move(tool, 8, 8);
  uitest::FireTimer(*kit.App.Hints().ShowTimer());
  THintWindow* hint = kit.App.Hints().Window();
  ASSERT_TRUE(hint->Visible());
  // The next click lands where the hint shows, on the button.
  const TPoint p{hint->Left() + 4, hint->Top() + 4};
  ASSERT_TRUE(button->BoundsRect().Contains(button->Parent()->ScreenToClient(p)));
  EXPECT_EQ(uitest::ClickAt(kit.WidgetSet, p), uitest::WindowOf(form));
  EXPECT_EQ(clicks, 1);
  EXPECT_FALSE(hint->Visible());
}

// While the application goes, its forms' windows go one by one, and the display moves the pointer
// onto what lies below: a form that gets such a move then makes no hint window again (freed twice
// as the application ends).
TEST(Application, AMouseMoveWhileTheFormsGoMakesNoHints) {
  auto kit = std::make_unique<TTestApp>();
  TForm *below, *going;
  kit->App.CreateForm(below);
  kit->App.CreateForm(going);
  auto* button = new TButton(below);
  button->SetParent(below);
  button->Hint = "hint";
  button->SetShowHint(true);
  below->Show();
  going->Show();
  uitest::Move(button, 5, 5);  // the hint window and its timers are made
  going->OnDestroy = [&](rtl::TObject*) { below->PeerTarget().PeerMouseMove({}, Point(5, 5)); };
  kit.reset();
  EXPECT_EQ(Application, nullptr);
}

TEST(Form, PositionPlacesTheWindowOnItsFirstShow) {
  // The headless screen is 1280 x 1024 with a work area of 1280 x 994.
  const struct {
    TPosition position;
    TBorderStyle border;
    TRect window;  // the peer's client area on the screen
  } cases[] = {
      {poDesigned, bsSizeable, Bounds(10 + 4, 20 + 23, 392, 273)},
      {poScreenCenter, bsSizeable, Bounds(440 + 4, 362 + 23, 392, 273)},
      {poDesktopCenter, bsSizeable, Bounds(440 + 4, 347 + 23, 392, 273)},
      {poScreenCenter, bsNone, Bounds(440, 362, 400, 300)},
  };
  for (const auto& c : cases) {
    TTestApp kit;
    TForm* form;
    kit.App.CreateForm(form);
    form->SetBorderStyle(c.border);
    form->SetBounds(10, 20, 400, 300);
    form->Position = c.position;
    form->Show();
    EXPECT_EQ(uitest::WindowOf(form)->Bounds, c.window) << c.position << " " << c.border;
    EXPECT_EQ(uitest::WindowOf(form)->Style.Kind,
              c.border == bsNone ? TWindowKind::Borderless : TWindowKind::Normal);
  }
}

TEST(Form, ScreenCursorCoversEveryWindowUntilReset) {
  TTestApp kit;
  TForm* form;
  kit.App.CreateForm(form);
  auto* edit = new TEdit(form);
  edit->SetParent(form);
  form->Show();
  uitest::Move(edit, 3, 3);
  EXPECT_EQ(uitest::WindowOf(form)->Cursor, crIBeam);
  Screen->SetCursor(crHourGlass);
  EXPECT_EQ(uitest::WindowOf(form)->Cursor, crHourGlass);
  Screen->SetCursor(crDefault);
  EXPECT_EQ(uitest::WindowOf(form)->Cursor, crIBeam);
}

// A form whose OnDestroy reads a member of its own class.
class MemberForm : public TForm {
 public:
  explicit MemberForm(rtl::TComponent* owner) : TForm(owner) {
    OnDestroy = [this](rtl::TObject*) { seen->push_back(name); };
  }
  ~MemberForm() override { BeforeDestruction(); }
  std::string name = "settings form";
  std::vector<std::string>* seen = nullptr;
};

TEST(Form, OnDestroyRunsWhileTheFormIsWhole) {
  std::vector<std::string> seen;
  {
    TTestApp kit;
    MemberForm* form;
    kit.App.CreateForm(form);
    form->seen = &seen;
    form->Show();
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"settings form"}));
}

TEST(ProgramDir, TestsPutATemporaryFolderInPlace) {
  {
    uitest::ScopedProgramDir dir("/tmp/kw-ui-prog");
    EXPECT_EQ(rtl::ProgramDir(), "/tmp/kw-ui-prog/");
  }
  EXPECT_EQ(rtl::ProgramDir(), rtl::ExtractFilePath(rtl::ProgramFileName()));
}

}  // namespace

// The FLTK peer's loop and window behaviour on a real display (under xvfb-run).
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/msg/timer.h"
#include "platform/ui/core/application.h"
#include "platform/ui/core/menus.h"
#include "platform/ui/fltk/simulate.h"
#include "platform/ui/testkit/gui/gui.h"
#include "tests/support/wait.h"

namespace {

using uitest::gui::TGuiApp;

// Runs the application's loop until done holds or limitMs pass.
void LoopUntil(const std::function<bool()>& done, DWORD limitMs) {
  DWORD start = GetTickCount();
  while (!done() && TickElapsed(start, GetTickCount()) < limitMs)
    Application->HandleMessage();
}

TEST(FltkLoop, ATimerNeverFiresEarlyAndFiresOnTimeWhileTheLoopIdles) {
  TGuiApp kit;
  ASSERT_TRUE(kit.Ready());
  for (UINT interval : {40u, 400u}) {
    SCOPED_TRACE(interval);
    TTimer timer;
    DWORD start = GetTickCount(), fired = 0;
    timer.OnTimer = [&](rtl::TObject*) {
      fired = GetTickCount();
      timer.SetEnabled(false);
    };
    timer.SetInterval(interval);
    LoopUntil([&] { return fired != 0; }, interval + testsupport::kWaitLimitMs);
    ASSERT_NE(fired, 0u) << "the timer never fired";
    EXPECT_GE(TickElapsed(start, fired), interval);
    // Nothing else wakes the idle loop: a timer that fires at all came through its own time-out.
    // On time means within a margin a loaded machine keeps, far below a wait that forgot it.
    EXPECT_LE(TickElapsed(start, fired), interval + 5000) << "the loop slept past the timer";
  }
}

TEST(FltkLoop, APostFromAnotherThreadWakesTheLoopWhileOnlyALongTimerIsPending) {
  TGuiApp kit;
  ASSERT_TRUE(kit.Ready());
  std::atomic<DWORD> posted{0};
  DWORD handled = 0;
  HWND window = AllocateHWnd([&](TMessage& m) {
    if (m.Msg == WM_USER) handled = GetTickCount();
  });
  constexpr DWORD kTimerMs = 60000;
  ASSERT_NE(SetTimer(window, 1, kTimerMs), 0u);
  const pid_t loop = gettid();
  std::thread poster([&] {
    // The loop is asleep in its wait, with the 60 s timer its only time-out.
    EXPECT_TRUE(testsupport::WaitForThreadToBlock(loop));
    posted = GetTickCount();
    PostMessage(window, WM_USER, 0, 0);
  });
  LoopUntil([&] { return handled != 0; }, kTimerMs + 10000);
  poster.join();
  DeallocateHWnd(window);
  ASSERT_NE(handled, 0u);
  EXPECT_LT(TickElapsed(posted, handled), kTimerMs / 2) << "the loop slept on the 60 s timer";
}

// A handler that runs a modal loop of its own (a modal form) keeps timers and posts flowing, and
// the outer loop goes on afterwards.
TEST(FltkLoop, AHandlerThatRunsAModalLoopKeepsMessagesFlowing) {
  TGuiApp kit;
  ASSERT_TRUE(kit.Ready());
  TForm* dialog = new TForm(kit.App.get());
  dialog->SetBounds(100, 100, 200, 120);
  int ticks = 0, posts = 0;
  TModalResult result = mrNone;
  TTimer closer(dialog);
  closer.SetEnabled(false);
  closer.SetInterval(30);
  HWND window = 0;
  window = AllocateHWnd([&](TMessage& m) {
    if (m.Msg == WM_USER) {
      closer.SetEnabled(true);
      result = dialog->ShowModal();  // nested loop
    } else if (m.Msg == WM_USER + 1) {
      ++posts;
    }
  });
  closer.OnTimer = [&](rtl::TObject*) {
    // Posts reach the window while the modal loop runs; the third tick ends it.
    PostMessage(window, WM_USER + 1, 0, 0);
    if (++ticks == 3) dialog->SetModalResult(mrOk);
  };
  PostMessage(window, WM_USER, 0, 0);
  LoopUntil([&] { return result != mrNone; }, testsupport::kWaitLimitMs);
  EXPECT_EQ(result, mrOk);
  EXPECT_FALSE(dialog->Visible());
  closer.SetEnabled(false);
  LoopUntil([&] { return posts == 3; }, testsupport::kWaitLimitMs);
  EXPECT_EQ(posts, 3);
  DeallocateHWnd(window);
}

TEST(FltkWindow, EscapeLeavesTheWindowOpenAndTheCloseBoxAsksOnCloseQuery) {
  TGuiApp kit;
  ASSERT_TRUE(kit.Ready());
  TForm* form;
  kit.App->CreateForm(form);
  form->SetBounds(50, 50, 300, 200);
  form->KeyPreview = true;
  std::vector<WORD> keys;
  form->OnKeyDown = [&](rtl::TObject*, WORD& key, TShiftState) { keys.push_back(key); };
  int asked = 0;
  bool allow = false;
  form->OnCloseQuery = [&](rtl::TObject*, bool& canClose) {
    ++asked;
    canClose = allow;
  };
  form->Show();
  Application->ProcessMessages();

  fltkpeer::SendKey(*form, VK_ESCAPE);
  fltkpeer::SendUnhandledEscape(*form);
  Application->ProcessMessages();
  EXPECT_EQ(keys, std::vector<WORD>{VK_ESCAPE}) << "the form's key handler gets Escape";
  EXPECT_TRUE(form->Visible());
  EXPECT_EQ(asked, 0);

  fltkpeer::SendCloseButton(*form);
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(form->Visible()) << "a refused close keeps the window";
  allow = true;
  fltkpeer::SendCloseButton(*form);
  EXPECT_EQ(asked, 2);
  EXPECT_FALSE(form->Visible());
}

}  // namespace

// A popped-up menu runs FLTK's own loop: timers keep firing inside it, keys choose from it, and
// the chosen item is clicked once the menu is gone.
TEST(FltkMenu, APopupMenuKeepsTimersRunningAndClicksTheChosenItem) {
  TGuiApp kit;
  ASSERT_TRUE(kit.Ready());
  TForm* form;
  kit.App->CreateForm(form);
  form->SetBounds(50, 50, 300, 200);
  form->Show();
  Application->ProcessMessages();
  auto* menu = new TPopupMenu(form);
  std::string clicked;
  for (const char* caption : {"&Copy", "-", "a@b&c", "&Paste"}) {
    auto* item = new TMenuItem(form);
    item->Caption = caption;
    item->OnClick = [&clicked, caption](rtl::TObject*) { clicked = caption; };
    menu->Items()->Add(item);
  }
  // Down, Down (over the separator), Enter; Escape from then on should the menu still be up.
  const WORD script[] = {VK_DOWN, VK_DOWN, VK_RETURN};
  int ticks = 0;
  TTimer keys(form);
  keys.SetEnabled(false);
  keys.SetInterval(50);
  keys.OnTimer = [&](rtl::TObject*) {
    fltkpeer::SendKeyToDisplay(ticks < 3 ? script[ticks] : VK_ESCAPE);
    ++ticks;
  };
  // The keys start from a message that the popup handles before it takes the keyboard; its first
  // tick is due only then, however slowly the machine gets there.
  HWND starter = AllocateHWnd([&](TMessage&) { keys.SetEnabled(true); });
  PostMessage(starter, WM_USER, 0, 0);
  menu->Popup(120, 120);
  DeallocateHWnd(starter);
  keys.SetEnabled(false);
  EXPECT_EQ(clicked, "a@b&c");
  EXPECT_EQ(ticks, 3) << "the menu ended at the third key";
}

// A message box on the display: Enter takes the default button, the close box gives the answer
// of a box closed without a button, Escape closes nothing.
TEST(FltkBox, EnterTakesTheDefaultTheCloseBoxGivesTheCloseAnswerAndEscapeNothing) {
  TGuiApp kit;
  ASSERT_TRUE(kit.Ready());
  constexpr WORD kCloseBox = 0;  // a step that presses the close box instead of a key
  struct Case {
    UINT flags;
    std::vector<WORD> steps;
    int answer;
  } cases[] = {
      {MB_YESNO | MB_DEFBUTTON2, {VK_RETURN}, IDNO},
      {MB_OKCANCEL, {VK_ESCAPE, VK_RETURN}, IDOK},
      {MB_YESNOCANCEL | MB_ICONQUESTION, {VK_ESCAPE, kCloseBox}, IDCANCEL},
      {MB_YESNO | MB_ICONERROR, {kCloseBox}, IDNO},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flags);
    size_t step = 0;
    TTimer driver;
    driver.OnTimer = [&](rtl::TObject*) {
      // Past the script, the close box ends a box that is still open.
      WORD s = step < c.steps.size() ? c.steps[step] : kCloseBox;
      ++step;
      if (s == kCloseBox)
        fltkpeer::SendCloseButtonToDisplay();
      else
        fltkpeer::SendKeyToDisplay(s);
    };
    driver.SetInterval(50);
    int answer = Application->MessageBox("user@host\nline 2", "Kelvadon", c.flags);
    driver.SetEnabled(false);
    EXPECT_EQ(answer, c.answer);
    EXPECT_EQ(step, c.steps.size()) << "the box ended at another step";
  }
}

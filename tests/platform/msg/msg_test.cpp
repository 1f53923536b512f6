#include "platform/msg/msg.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/pump.h"
#include "tests/support/wait.h"

namespace {

using testsupport::PumpUntil;

// Records what a thread's windows receive.
struct Recorder {
  std::vector<std::string> log;
  HWND Make(const std::string& name) {
    return AllocateHWnd([this, name](TMessage& m) {
      log.push_back(name + ":" + std::to_string(m.Msg) + ":" + std::to_string(m.WParam));
    });
  }
};

TEST(MessageQueue, OrderIsKeptAcrossWindowsOfAThread) {
  Recorder r;
  HWND a = r.Make("a"), b = r.Make("b");
  ASSERT_NE(a, 0u);
  ASSERT_NE(a, b);
  PostMessage(a, WM_USER + 1, 1, 0);
  PostMessage(b, WM_USER + 1, 2, 0);
  PostMessage(a, WM_USER + 2, 3, 0);
  PostMessage(b, WM_USER + 2, 4, 0);
  EXPECT_EQ(ProcessMessages(), 4);
  EXPECT_EQ(r.log, (std::vector<std::string>{"a:1025:1", "b:1025:2", "a:1026:3", "b:1026:4"}));
  DeallocateHWnd(a);
  DeallocateHWnd(b);
}

TEST(MessageQueue, PostFromAnotherThreadWakesABlockedWait) {
  Recorder r;
  HWND w = r.Make("w");
  const pid_t waiter = gettid();
  std::thread t([w, waiter] {
    EXPECT_TRUE(testsupport::WaitForThreadToBlock(waiter));
    EXPECT_TRUE(PostMessage(w, WM_USER, 7, 0));
  });
  MSG m;
  // GetMessage blocks until the other thread posts.
  ASSERT_TRUE(GetMessage(&m, 0, 0, 0));
  EXPECT_EQ(m.hwnd, w);
  EXPECT_EQ(m.wParam, 7u);
  t.join();
  EXPECT_EQ(MsgWait(20), WAIT_TIMEOUT);
  DeallocateHWnd(w);
}

TEST(MessageQueue, WindowFreedInsideItsOwnProcedure) {
  int calls = 0;
  HWND w = 0;
  std::string captured = "kept alive while running";
  w = AllocateHWnd([&calls, &w, captured](TMessage& m) {
    ++calls;
    DeallocateHWnd(w);
    // The procedure's own state must still be usable after the window is gone.
    EXPECT_EQ(captured, "kept alive while running");
  });
  PostMessage(w, WM_USER, 0, 0);
  PostMessage(w, WM_USER, 1, 0);  // dropped: the window is gone when its turn comes
  ProcessMessages();
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(IsWindow(w));
  EXPECT_FALSE(PostMessage(w, WM_USER, 2, 0));
  EXPECT_EQ(GetLastError(), 1400u);
}

TEST(MessageQueue, MessagesForAFreedWindowAreDropped) {
  Recorder r;
  HWND a = r.Make("a"), b = r.Make("b");
  PostMessage(a, WM_USER, 1, 0);
  PostMessage(b, WM_USER, 2, 0);
  DeallocateHWnd(a);
  ProcessMessages();
  EXPECT_EQ(r.log, (std::vector<std::string>{"b:1024:2"}));
  // Ids are never reused.
  HWND c = r.Make("c");
  EXPECT_NE(c, a);
  DeallocateHWnd(b);
  DeallocateHWnd(c);
}

TEST(MessageQueue, NestedDispatchGoesOnWithTheNextMessage) {
  std::vector<int> seen;
  HWND w = AllocateHWnd([&](TMessage& m) {
    seen.push_back(static_cast<int>(m.WParam));
    if (m.WParam == 1) {
      // A handler that pumps: the messages behind it run inside, in order, once each.
      MSG inner;
      while (PeekMessage(&inner, 0, 0, 0, PM_REMOVE))
        DispatchMessage(&inner);
      seen.push_back(-1);
    }
  });
  for (int i = 1; i <= 4; ++i)
    PostMessage(w, WM_USER, i, 0);
  MSG m;
  while (PeekMessage(&m, 0, 0, 0, PM_REMOVE))
    DispatchMessage(&m);
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, -1}));
  DeallocateHWnd(w);
}

TEST(MessageQueue, QuitEndsGetMessageAfterTheQueuedMessages) {
  Recorder r;
  HWND w = r.Make("w");
  PostMessage(w, WM_USER, 1, 0);
  PostQuitMessage(3);
  PostMessage(w, WM_USER, 2, 0);
  MSG m;
  int got = 0;
  while (GetMessage(&m, 0, 0, 0)) {
    DispatchMessage(&m);
    ++got;
  }
  EXPECT_EQ(got, 2);
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_EQ(m.wParam, 3u);
  EXPECT_FALSE(QuitPending());
  DeallocateHWnd(w);
}

TEST(MessageQueue, FilteredPeekLeavesOtherMessages) {
  Recorder r;
  HWND a = r.Make("a"), b = r.Make("b");
  PostMessage(a, WM_USER + 1, 1, 0);
  PostMessage(b, WM_USER + 2, 2, 0);
  PostMessage(a, WM_USER + 3, 3, 0);
  MSG m;
  ASSERT_TRUE(PeekMessage(&m, b, 0, 0, PM_REMOVE));
  EXPECT_EQ(m.wParam, 2u);
  ASSERT_TRUE(PeekMessage(&m, 0, WM_USER + 3, WM_USER + 3, PM_NOREMOVE));
  EXPECT_EQ(m.wParam, 3u);
  EXPECT_EQ(ProcessMessages(), 2);
  EXPECT_EQ(r.log, (std::vector<std::string>{"a:1025:1", "a:1027:3"}));
  DeallocateHWnd(a);
  DeallocateHWnd(b);
}

TEST(MessageQueue, PostThreadMessageAndThreadExit) {
  std::atomic<DWORD> tid{0};
  std::atomic<HWND> hwnd{0};
  std::atomic<bool> gotIt{false};
  std::thread t([&] {
    hwnd = AllocateHWnd([](TMessage&) {});
    tid = GetCurrentThreadId();
    MSG m;
    while (GetMessage(&m, 0, 0, 0))
      if (m.hwnd == 0 && m.message == WM_USER + 9) gotIt = true;
  });
  ASSERT_TRUE(testsupport::WaitFor([&] { return tid != 0; }));
  EXPECT_TRUE(PostThreadMessage(tid, WM_USER + 9, 0, 0));
  EXPECT_TRUE(PostThreadMessage(tid, WM_QUIT, 0, 0));
  t.join();
  EXPECT_TRUE(gotIt);
  // The thread's window went with it.
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_FALSE(PostMessage(hwnd, WM_USER, 0, 0));
  EXPECT_FALSE(PostThreadMessage(tid, WM_USER, 0, 0));
}

TEST(Timers, FireRepeatedlyAndStop) {
  int ticks = 0;
  HWND w = AllocateHWnd([&](TMessage& m) {
    if (m.Msg == WM_TIMER && m.WParam == 5) ++ticks;
  });
  ASSERT_EQ(SetTimer(w, 5, 10), 5u);
  EXPECT_TRUE(PumpUntil([&] { return ticks >= 3; }));
  EXPECT_TRUE(KillTimer(w, 5));
  EXPECT_FALSE(KillTimer(w, 5));
  int after = ticks;
  MsgWait(50);
  ProcessMessages();
  EXPECT_EQ(ticks, after);
  DeallocateHWnd(w);
}

TEST(Timers, CoalesceAfterAStall) {
  int ticks = 0;
  HWND w = AllocateHWnd([&](TMessage& m) {
    if (m.Msg == WM_TIMER) ++ticks;
  });
  constexpr DWORD kPeriod = 5;
  SetTimer(w, 1, kPeriod);
  Sleep(100);  // twenty periods pass without the thread looking
  MSG m;
  int timers = 0;
  DWORD first = 0;
  while (PeekMessage(&m, 0, 0, 0, PM_REMOVE)) {
    if (m.message != WM_TIMER) continue;
    // A WM_TIMER a full period after the first is the timer's next tick (the drain itself may be
    // held up that long on a loaded machine); one sooner would be a catch-up.
    if (timers == 0) first = m.time;
    if (timers == 0 || TickElapsed(first, m.time) < kPeriod) ++timers;
  }
  EXPECT_EQ(timers, 1);  // one WM_TIMER, no catch-up
  KillTimer(w, 1);
  DeallocateHWnd(w);
}

TEST(Timers, DueTimerIsNotStarvedByAFloodOfPosts) {
  // Another thread keeps the queue non-empty; the timer must still come through.
  int ticks = 0, posts = 0;
  HWND w = AllocateHWnd([&](TMessage& m) {
    if (m.Msg == WM_TIMER)
      ++ticks;
    else
      ++posts;
  });
  std::atomic<bool> stop{false};
  std::thread flood([&] {
    while (!stop) {
      PostMessage(w, WM_USER, 0, 0);
      std::this_thread::yield();
    }
  });
  SetTimer(w, 1, 20);
  MSG m;
  DWORD start = GetTickCount();
  while (ticks < 2 && TickElapsed(start, GetTickCount()) < 20000) {  // a bound for loaded builds
    if (GetMessage(&m, 0, 0, 0)) DispatchMessage(&m);
  }
  stop = true;
  flood.join();
  EXPECT_GE(ticks, 2);
  EXPECT_GT(posts, 0);
  KillTimer(w, 1);
  DeallocateHWnd(w);
  ProcessMessages();
}

TEST(Timers, KilledFromAnotherThreadDropsTheQueuedTick) {
  int ticks = 0;
  HWND w = AllocateHWnd([&](TMessage& m) {
    if (m.Msg == WM_TIMER) ++ticks;
  });
  SetTimer(w, 2, 1);
  MSG m;
  ASSERT_TRUE(testsupport::WaitFor([&] {
    return PeekMessage(&m, 0, 0, 0, PM_NOREMOVE);  // the tick is queued now
  }));
  std::thread([w] { EXPECT_TRUE(KillTimer(w, 2)); }).join();
  ProcessMessages();
  EXPECT_EQ(ticks, 0);
  DeallocateHWnd(w);
}

TEST(Timers, SetFromAnotherThreadWakesTheWait) {
  int ticks = 0;
  HWND w = AllocateHWnd([&](TMessage& m) {
    if (m.Msg == WM_TIMER) ++ticks;
  });
  const pid_t waiter = gettid();
  std::thread t([w, waiter] {
    EXPECT_TRUE(testsupport::WaitForThreadToBlock(waiter));
    SetTimer(w, 3, 10);
  });
  // The wait started with no timer at all; it must notice the new one, long before its own end.
  EXPECT_EQ(MsgWait(testsupport::kWaitLimitMs), WAIT_OBJECT_0);
  EXPECT_TRUE(PumpUntil([&] { return ticks >= 1; }));
  t.join();
  KillTimer(w, 3);
  DeallocateHWnd(w);
}

TEST(MessageQueue, MsgWaitTimesOutAndTickCountIsWrapSafe) {
  DWORD start = GetTickCount();
  EXPECT_EQ(MsgWait(30), WAIT_TIMEOUT);
  EXPECT_GE(TickElapsed(start, GetTickCount()), 25u);
  EXPECT_TRUE(TickBefore(0xFFFFFFF0u, 0x10u));
  EXPECT_FALSE(TickBefore(0x10u, 0xFFFFFFF0u));
  EXPECT_EQ(TickElapsed(0xFFFFFFF0u, 0x10u), 0x20u);
}

TEST(MessageQueue, QueueDescriptorStaysReadableWhileMessagesWait) {
  int fd = MessageQueueFd();
  ASSERT_GE(fd, 0);
  int calls = 0;
  HWND w = 0;
  w = AllocateHWnd([&](TMessage&) {
    // Each message posts another: ProcessMessages handles only what was queued when it began.
    if (++calls < 3) PostMessage(w, WM_USER, 0, 0);
  });
  PostMessage(w, WM_USER, 0, 0);
  EXPECT_EQ(ProcessMessages(), 1);
  EXPECT_EQ(MsgWait(0), WAIT_OBJECT_0);
  EXPECT_EQ(ProcessMessages(), 1);
  EXPECT_EQ(ProcessMessages(), 1);
  EXPECT_EQ(ProcessMessages(), 0);
  DeallocateHWnd(w);
}

TEST(DebugOutput, GoesToTheSink) {
  std::string got;
  SetDebugSink([&](const std::string& s) { got += s; });
  OutputDebugStringA("hello\r\n");
  SetDebugSink(nullptr);
  OutputDebugStringA("not captured");
  EXPECT_EQ(got, "hello\r\n");
}

}  // namespace

#include "platform/msg/timer.h"

namespace {

TEST(TimerComponent, FiresWhileEnabled) {
  TTimer timer;
  int ticks = 0;
  timer.OnTimer = [&](rtl::TObject* sender) {
    EXPECT_EQ(sender, &timer);
    ++ticks;
  };
  timer.SetEnabled(false);
  timer.SetInterval(10);
  PumpUntil([] { return false; }, 60);
  EXPECT_EQ(ticks, 0);
  timer.SetEnabled(true);
  EXPECT_TRUE(PumpUntil([&] { return ticks >= 2; }));
  timer.SetEnabled(false);
  int seen = ticks;
  PumpUntil([] { return false; }, 60);
  EXPECT_EQ(ticks, seen);
}

}  // namespace

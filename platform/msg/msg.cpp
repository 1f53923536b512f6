// Windows, queues, dispatch and timers.
//
// Each thread that uses the layer gets a ThreadQueue on first use: a FIFO of messages, its timers,
// a quit flag and a Waker. Windows live in a process-wide table (id -> Window) and point at the
// queue of the thread that made them. Locks: the window table's lock is never held while a queue
// lock is taken, and no lock is held while a window procedure runs, so procedures may post, make
// and destroy windows and pump messages (nested dispatch) freely.
//
// Timer rule: a timer that is due is turned into a WM_TIMER at the tail of its queue before any
// later message is appended (every post checks), so a queue that never empties cannot starve a
// timer; while its WM_TIMER is still queued a timer queues no other (no catch-up), and it counts
// its next period from the moment that WM_TIMER is taken.
#include "platform/msg/msg.h"

#include <errno.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/msg/waker.h"

using msg_internal::MonotonicMs;
using msg_internal::Waker;

namespace {

constexpr DWORD kErrorInvalidWindowHandle = 1400;
constexpr DWORD kErrorInvalidThreadId = 1444;

struct Timer {
  HWND hwnd;
  UINT_PTR id;
  UINT elapse;
  int64_t due;  // monotonic ms
  bool queued;  // its WM_TIMER waits in the queue
};

struct ThreadQueue {
  DWORD threadId = 0;
  std::mutex m;
  std::deque<MSG> q;
  std::vector<Timer> timers;
  bool quit = false;
  int quitCode = 0;
  bool closed = false;    // the thread has ended
  bool waiting = false;   // blocked in MsgWait: a post must signal
  bool external = false;  // someone polls Fd() in another loop: every post signals
  Waker waker;

  // REQUIRES: m held. Queues a WM_TIMER for every due timer without one queued.
  void PromoteDueTimers(int64_t now) {
    Timer* due[64];
    size_t n = 0;
    for (auto& t : timers)
      if (!t.queued && t.due <= now && n < 64) due[n++] = &t;
    std::sort(due, due + n, [](Timer* a, Timer* b) { return a->due < b->due; });
    for (size_t i = 0; i < n; ++i) {
      due[i]->queued = true;
      q.push_back(MSG{due[i]->hwnd, WM_TIMER, due[i]->id, 0, static_cast<DWORD>(now)});
    }
  }

  // REQUIRES: m held. Milliseconds until the next timer that can fire, -1 when none.
  int64_t TimerWait(int64_t now) const {
    int64_t best = -1;
    for (auto& t : timers) {
      if (t.queued) continue;
      int64_t d = t.due > now ? t.due - now : 0;
      if (best < 0 || d < best) best = d;
    }
    return best;
  }

  // REQUIRES: m held.
  Timer* FindTimer(HWND hwnd, UINT_PTR id) {
    for (auto& t : timers)
      if (t.hwnd == hwnd && t.id == id) return &t;
    return nullptr;
  }

  // REQUIRES: m held. Drops queued WM_TIMERs of (hwnd, id); id 0 with all set: every timer of
  // hwnd.
  void DropTimerMessages(HWND hwnd, UINT_PTR id, bool all) {
    q.erase(std::remove_if(q.begin(), q.end(),
                           [&](const MSG& m) {
                             return m.hwnd == hwnd && m.message == WM_TIMER &&
                                    (all || m.wParam == id);
                           }),
            q.end());
  }

  // REQUIRES: m not held. Wakes the thread if it may be waiting.
  void Wake(bool needed) {
    if (needed) waker.Signal();
  }
};

struct Window {
  HWND id;
  std::shared_ptr<ThreadQueue> queue;
  TWndMethod proc;
  bool alive = true;  // guarded by queue->m
};

std::mutex g_lock;  // guards g_windows, g_threads, g_nextHwnd
std::unordered_map<HWND, std::shared_ptr<Window>>& Windows() {
  static auto* w = new std::unordered_map<HWND, std::shared_ptr<Window>>;
  return *w;
}
std::unordered_map<DWORD, std::weak_ptr<ThreadQueue>>& Threads() {
  static auto* t = new std::unordered_map<DWORD, std::weak_ptr<ThreadQueue>>;
  return *t;
}
HWND g_nextHwnd = 0x10000;

std::shared_ptr<Window> FindWindow(HWND hwnd) {
  std::lock_guard<std::mutex> l(g_lock);
  auto it = Windows().find(hwnd);
  return it == Windows().end() ? nullptr : it->second;
}

DWORD ThreadIdNow() {
  thread_local DWORD tid = static_cast<DWORD>(syscall(SYS_gettid));
  return tid;
}

// Owns the calling thread's queue; at thread exit the queue closes and the thread's windows go.
struct QueueHolder {
  std::shared_ptr<ThreadQueue> queue;
  ~QueueHolder() {
    if (!queue) return;
    std::vector<std::shared_ptr<Window>> mine;
    {
      std::lock_guard<std::mutex> l(g_lock);
      Threads().erase(queue->threadId);
      for (auto it = Windows().begin(); it != Windows().end();) {
        if (it->second->queue == queue) {
          mine.push_back(it->second);
          it = Windows().erase(it);
        } else {
          ++it;
        }
      }
    }
    std::lock_guard<std::mutex> l(queue->m);
    for (auto& w : mine)
      w->alive = false;
    queue->closed = true;
    queue->q.clear();
    queue->timers.clear();
  }
};

ThreadQueue& MyQueue() {
  thread_local QueueHolder holder;
  if (!holder.queue) {
    holder.queue = std::make_shared<ThreadQueue>();
    holder.queue->threadId = ThreadIdNow();
    std::lock_guard<std::mutex> l(g_lock);
    Threads()[holder.queue->threadId] = holder.queue;
  }
  return *holder.queue;
}

bool Matches(const MSG& m, HWND hwnd, UINT lo, UINT hi) {
  if (hwnd && m.hwnd != hwnd) return false;
  if (lo == 0 && hi == 0) return true;
  return m.message >= lo && m.message <= hi;
}

// Takes (or looks at) the first matching message; with allowQuit, a pending quit is returned when
// nothing else matches.
bool Peek(ThreadQueue& tq, MSG* out, HWND hwnd, UINT lo, UINT hi, bool remove, bool allowQuit) {
  std::lock_guard<std::mutex> l(tq.m);
  int64_t now = MonotonicMs();
  tq.PromoteDueTimers(now);
  for (auto it = tq.q.begin(); it != tq.q.end(); ++it) {
    if (!Matches(*it, hwnd, lo, hi)) continue;
    *out = *it;
    if (remove) {
      tq.q.erase(it);
      if (out->message == WM_TIMER && out->hwnd) {
        if (Timer* t = tq.FindTimer(out->hwnd, out->wParam)) {
          t->queued = false;
          t->due = now + t->elapse;
        }
      }
    }
    return true;
  }
  if (allowQuit && tq.quit) {
    *out = MSG{0, WM_QUIT, static_cast<WPARAM>(tq.quitCode), 0, static_cast<DWORD>(now)};
    if (remove) tq.quit = false;
    return true;
  }
  return false;
}

bool PostTo(const std::shared_ptr<ThreadQueue>& tq, const Window* w, const MSG& m) {
  bool wake;
  {
    std::lock_guard<std::mutex> l(tq->m);
    if (tq->closed || (w && !w->alive)) return false;
    if (!tq->timers.empty()) tq->PromoteDueTimers(MonotonicMs());
    tq->q.push_back(m);
    wake = tq->waiting || tq->external;
  }
  tq->Wake(wake);
  return true;
}

std::mutex g_debugLock;
DebugSink& Sink() {
  static auto* s = new DebugSink;
  return *s;
}

}  // namespace

HWND AllocateHWnd(TWndMethod proc) {
  ThreadQueue& tq = MyQueue();
  auto w = std::make_shared<Window>();
  w->proc = std::move(proc);
  std::lock_guard<std::mutex> l(g_lock);
  auto self = Threads()[tq.threadId].lock();
  w->queue = std::move(self);
  if (++g_nextHwnd == 0) ++g_nextHwnd;
  w->id = g_nextHwnd;
  Windows()[w->id] = w;
  return w->id;
}

void DeallocateHWnd(HWND hwnd) {
  std::shared_ptr<Window> w;
  {
    std::lock_guard<std::mutex> l(g_lock);
    auto it = Windows().find(hwnd);
    if (it == Windows().end()) return;
    w = it->second;
    Windows().erase(it);
  }
  std::lock_guard<std::mutex> l(w->queue->m);
  w->alive = false;
  auto& tq = *w->queue;
  tq.timers.erase(std::remove_if(tq.timers.begin(), tq.timers.end(),
                                 [&](const Timer& t) { return t.hwnd == hwnd; }),
                  tq.timers.end());
  tq.q.erase(std::remove_if(tq.q.begin(), tq.q.end(), [&](const MSG& m) { return m.hwnd == hwnd; }),
             tq.q.end());
  // The procedure itself stays alive in w until the last reference (a running dispatch) goes.
}

BOOL IsWindow(HWND hwnd) {
  return FindWindow(hwnd) ? TRUE : FALSE;
}

DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId) {
  auto w = FindWindow(hwnd);
  if (!w) return 0;
  if (processId) *processId = static_cast<DWORD>(getpid());
  return w->queue->threadId;
}

BOOL PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto w = hwnd ? FindWindow(hwnd) : nullptr;
  if (!w || !PostTo(w->queue, w.get(), MSG{hwnd, msg, wParam, lParam, GetTickCount()})) {
    SetLastError(kErrorInvalidWindowHandle);
    return FALSE;
  }
  return TRUE;
}

BOOL PostThreadMessage(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<ThreadQueue> tq;
  {
    std::lock_guard<std::mutex> l(g_lock);
    auto it = Threads().find(threadId);
    if (it != Threads().end()) tq = it->second.lock();
  }
  if (!tq || !PostTo(tq, nullptr, MSG{0, msg, wParam, lParam, GetTickCount()})) {
    SetLastError(kErrorInvalidThreadId);
    return FALSE;
  }
  return TRUE;
}

LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto w = FindWindow(hwnd);
  if (!w || w->queue->threadId != ThreadIdNow()) {
    SetLastError(kErrorInvalidWindowHandle);
    return 0;
  }
  TMessage m{msg, wParam, lParam, 0};
  w->proc(m);
  return m.Result;
}

BOOL PeekMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT remove) {
  return Peek(MyQueue(), msg, hwnd, filterMin, filterMax, remove & PM_REMOVE, true) ? TRUE : FALSE;
}

BOOL GetMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax) {
  ThreadQueue& tq = MyQueue();
  while (!Peek(tq, msg, hwnd, filterMin, filterMax, true, true))
    MsgWait(INFINITE);
  return msg->message == WM_QUIT ? FALSE : TRUE;
}

LRESULT DispatchMessage(const MSG* msg) {
  if (!msg->hwnd) return 0;
  auto w = FindWindow(msg->hwnd);
  if (!w) return 0;  // destroyed: dropped
  if (msg->message == WM_TIMER) {
    // A timer killed after its message was taken is not delivered.
    std::lock_guard<std::mutex> l(w->queue->m);
    if (!w->queue->FindTimer(msg->hwnd, msg->wParam)) return 0;
  }
  TMessage m{msg->message, msg->wParam, msg->lParam, 0};
  w->proc(m);
  return m.Result;
}

void PostQuitMessage(int exitCode) {
  ThreadQueue& tq = MyQueue();
  {
    std::lock_guard<std::mutex> l(tq.m);
    tq.quit = true;
    tq.quitCode = exitCode;
  }
  tq.waker.Signal();
}

bool QuitPending() {
  ThreadQueue& tq = MyQueue();
  std::lock_guard<std::mutex> l(tq.m);
  return tq.quit;
}

DWORD MsgWait(DWORD ms) {
  ThreadQueue& tq = MyQueue();
  int64_t start = MonotonicMs();
  while (true) {
    int64_t timeout;
    {
      std::lock_guard<std::mutex> l(tq.m);
      int64_t now = MonotonicMs();
      tq.PromoteDueTimers(now);
      tq.waiting = false;
      if (!tq.q.empty() || tq.quit) return WAIT_OBJECT_0;
      int64_t left = -1;
      if (ms != INFINITE) {
        left = static_cast<int64_t>(ms) - (now - start);
        if (left <= 0) return WAIT_TIMEOUT;
      }
      int64_t timerWait = tq.TimerWait(now);
      timeout = left;
      if (timerWait >= 0 && (timeout < 0 || timerWait < timeout)) timeout = timerWait;
      tq.waiting = true;
    }
    tq.waker.Wait(timeout);
    tq.waker.Drain();
  }
}

int ProcessMessages() {
  ThreadQueue& tq = MyQueue();
  tq.waker.Drain();
  size_t budget;
  {
    std::lock_guard<std::mutex> l(tq.m);
    tq.PromoteDueTimers(MonotonicMs());
    budget = tq.q.size();
  }
  int n = 0;
  MSG m;
  // Only what is queued now: a handler that keeps posting cannot hold this call forever.
  while (budget-- > 0 && Peek(tq, &m, 0, 0, 0, true, false)) {
    DispatchMessage(&m);
    ++n;
  }
  bool more;
  {
    std::lock_guard<std::mutex> l(tq.m);
    more = !tq.q.empty() || tq.quit;
  }
  if (more) tq.waker.Signal();  // keep the descriptor readable for the outer loop
  return n;
}

int MessageQueueFd() {
  ThreadQueue& tq = MyQueue();
  std::lock_guard<std::mutex> l(tq.m);
  tq.external = true;
  return tq.waker.Fd();
}

DWORD NextTimerDue() {
  ThreadQueue& tq = MyQueue();
  std::lock_guard<std::mutex> l(tq.m);
  int64_t w = tq.TimerWait(MonotonicMs());
  return w < 0 ? INFINITE : static_cast<DWORD>(std::min<int64_t>(w, INFINITE - 1));
}

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse) {
  auto w = hwnd ? FindWindow(hwnd) : nullptr;
  if (!w) {
    SetLastError(kErrorInvalidWindowHandle);
    return 0;
  }
  if (id == 0) id = 1;
  bool wake;
  {
    auto& tq = *w->queue;
    std::lock_guard<std::mutex> l(tq.m);
    if (!w->alive || tq.closed) {
      SetLastError(kErrorInvalidWindowHandle);
      return 0;
    }
    int64_t due = MonotonicMs() + elapse;
    if (Timer* t = tq.FindTimer(hwnd, id)) {
      if (t->queued) tq.DropTimerMessages(hwnd, id, false);
      *t = Timer{hwnd, id, elapse, due, false};
    } else {
      tq.timers.push_back(Timer{hwnd, id, elapse, due, false});
    }
    wake = tq.waiting || tq.external;
  }
  w->queue->Wake(wake);  // a sleeper recomputes its time-out
  return id;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
  auto w = FindWindow(hwnd);
  if (!w) return FALSE;
  auto& tq = *w->queue;
  std::lock_guard<std::mutex> l(tq.m);
  auto it = std::find_if(tq.timers.begin(), tq.timers.end(),
                         [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
  if (it == tq.timers.end()) return FALSE;
  if (it->queued) tq.DropTimerMessages(hwnd, id, false);
  tq.timers.erase(it);
  return TRUE;
}

DWORD GetTickCount() {
  return static_cast<DWORD>(MonotonicMs());
}

void Sleep(DWORD ms) {
  struct timespec ts = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

DWORD GetCurrentThreadId() {
  return ThreadIdNow();
}

void SetDebugSink(DebugSink sink) {
  std::lock_guard<std::mutex> l(g_debugLock);
  Sink() = std::move(sink);
}

void OutputDebugStringA(const char* text) {
  if (!text) return;
  std::lock_guard<std::mutex> l(g_debugLock);
  if (Sink()) {
    Sink()(text);
  } else if (std::getenv("KELVADON_DEBUG")) {
    std::fputs(text, stderr);
  }
}

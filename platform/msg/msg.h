// Per-thread message queues, hidden windows and timers: the notification path of sockets, the FTP
// server, the mail clients and timers. A window belongs to the thread that made it, and every
// message for it is dispatched on that thread, one at a time, in posting order across all windows
// of the thread.
//
// Thread rules: PostMessage, PostThreadMessage, SetTimer, KillTimer, IsWindow and the tick count
// work from any thread. AllocateHWnd makes a window of the calling thread. Peek/Get/Dispatch,
// MsgWait and PostQuitMessage act on the calling thread's queue. DeallocateHWnd may be called
// from any thread, including from inside the window's own procedure.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/win/win.h"

constexpr UINT WM_NULL = 0;
constexpr UINT WM_DESTROY = 2;
constexpr UINT WM_CLOSE = 0x10;
constexpr UINT WM_QUIT = 18;
constexpr UINT WM_TIMER = 0x113;
constexpr UINT WM_USER = 1024;

constexpr UINT PM_NOREMOVE = 0;
constexpr UINT PM_REMOVE = 1;

constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD INFINITE = 0xFFFFFFFF;

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;  // tick count when posted
};

// The message as a window procedure sees it; Result is returned by SendMessage.
struct TMessage {
  UINT Msg;
  WPARAM WParam;
  LPARAM LParam;
  LRESULT Result;
};

using TWndMethod = std::function<void(TMessage&)>;

// Makes a hidden window of the calling thread whose messages go to proc. Never returns 0; ids are
// never reused.
HWND AllocateHWnd(TWndMethod proc);
// Destroys the window: its timers are killed, messages still queued for it are dropped, and
// posting to it fails. Safe from inside its own procedure (the running call finishes first).
void DeallocateHWnd(HWND hwnd);
BOOL IsWindow(HWND hwnd);
// The thread that owns the window, 0 when there is none.
DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* processId);

// Queues a message for the window's thread and wakes it. FALSE (last error 1400) when the window
// does not exist.
BOOL PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Queues a window-less message (hwnd 0) for a thread that has a queue. FALSE (1444) otherwise.
BOOL PostThreadMessage(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam);
// Calls the window's procedure directly and returns its Result. REQUIRES: the window belongs to
// the calling thread (else 0 with last error 1400... and nothing is called).
LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Takes the first queued message of the calling thread that matches the filter (hwnd 0: any;
// min = max = 0: any number). Due timers are turned into WM_TIMER messages first. WM_QUIT, once
// posted, is returned when no other message matches. TRUE when a message was returned.
BOOL PeekMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT remove);
// Waits for a matching message; returns FALSE when it is WM_QUIT, else TRUE.
BOOL GetMessage(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax);
// Calls the procedure of msg->hwnd (dropped when the window is gone). No lock is held during the
// call, so a procedure may pump messages itself (nested dispatch).
LRESULT DispatchMessage(const MSG* msg);
// Asks the calling thread's loop to end: GetMessage returns FALSE after the queued messages.
void PostQuitMessage(int exitCode);

// Returns WAIT_OBJECT_0 at once when a message is queued or a timer is due for the calling
// thread, else blocks up to ms (INFINITE: no limit) and returns WAIT_OBJECT_0 when one arrives or
// WAIT_TIMEOUT.
DWORD MsgWait(DWORD ms);
// Dispatches every message queued for the calling thread right now (and timers due). Returns the
// number dispatched. Stops early, leaving WM_QUIT queued, when WM_QUIT is next.
int ProcessMessages();
// True when the calling thread's queue has a quit request pending.
bool QuitPending();

// The calling thread's wake-up descriptor (an eventfd, readable while messages may be waiting) and
// the milliseconds until its next timer is due (INFINITE when none). For loops that wait in
// another library's poll (the GUI toolkit): wait on the descriptor with that time-out, then
// ProcessMessages().
int MessageQueueFd();
DWORD NextTimerDue();

// Timers: a WM_TIMER (wParam = id) for the window every elapse ms. Calling again with the same
// window and id resets the timer. A timer that falls due while its previous WM_TIMER is still
// queued does not queue another (no catch-up), and a due WM_TIMER is queued at the latest behind
// the messages that were queued when it fell due. Returns id (non-zero) or 0 when the window does
// not exist. hwnd must not be 0.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse);
// Stops the timer and drops its queued WM_TIMER. FALSE when there was no such timer.
BOOL KillTimer(HWND hwnd, UINT_PTR id);

// Milliseconds since an unspecified start, wrapping at 2^32; compare deadlines with
// TickElapsed / TickBefore, which are wrap-safe.
DWORD GetTickCount();
inline DWORD TickElapsed(DWORD since, DWORD now) {
  return now - since;
}
inline bool TickBefore(DWORD a, DWORD b) {
  return static_cast<int32_t>(a - b) < 0;
}
void Sleep(DWORD ms);
DWORD GetCurrentThreadId();

// Debug output: to the sink when one is set, else to stderr when KELVADON_DEBUG is set, else
// nowhere.
void OutputDebugStringA(const char* text);
using DebugSink = std::function<void(const std::string&)>;
void SetDebugSink(DebugSink sink);

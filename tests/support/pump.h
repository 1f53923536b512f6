// Message pumping for tests above the message layer (link platform_msg): windows, timers and
// sockets only work while their thread handles its messages. Call from the thread that owns them.
// Header-only: the fuzz targets include it too.
#pragma once

#include "platform/msg/msg.h"
#include "tests/support/wait.h"

namespace testsupport {

// Handles the calling thread's messages until pred() holds or limitMs pass; true when it held.
template <typename Pred>
bool PumpUntil(Pred pred, DWORD limitMs = kWaitLimitMs) {
  DWORD start = GetTickCount();
  while (!pred()) {
    if (TickElapsed(start, GetTickCount()) > limitMs) return false;
    MsgWait(20);
    ProcessMessages();
  }
  return true;
}

// Handles messages for ms milliseconds.
inline void PumpFor(DWORD ms) {
  DWORD start = GetTickCount();
  while (TickElapsed(start, GetTickCount()) < ms) {
    MsgWait(10);
    ProcessMessages();
  }
}

}  // namespace testsupport

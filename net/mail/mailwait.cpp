#include "net/mail/mailwait.h"

#include "platform/msg/msg.h"

bool QuitPending() {
  MSG m;
  return PeekMessage(&m, 0, WM_QUIT, WM_QUIT, PM_NOREMOVE) != FALSE;
}

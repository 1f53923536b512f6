// What the synchronous mail clients (SMTP and POP3) share while they wait for a request to end:
// the test of whether the application is terminating. Its owner may supply one; when it supplies
// none, the test is platform/msg's QuitPending() (a quit request pending on the calling thread).
#pragma once

#include <functional>

#include "platform/msg/msg.h"

// True when the application is terminating: the synchronous call then gives up its wait.
using TTerminatingTest = std::function<bool()>;

// The test to use: the owner's when it supplied one, else QuitPending().
inline bool ApplicationTerminating(const TTerminatingTest& test) {
  return test ? test() : QuitPending();
}

// What the synchronous mail clients (SMTP and POP3) share while they wait for a request to end:
// the test of whether the application is terminating. Its owner may supply one; the default looks
// for a quit message waiting in the calling thread's queue. Call on the clients' thread.
#pragma once

#include <functional>

// True when the application is terminating: the synchronous call then gives up its wait.
using TTerminatingTest = std::function<bool()>;

// The default test: a WM_QUIT waits in the calling thread's queue (it is left there).
bool QuitPending();

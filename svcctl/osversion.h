// The Windows version tests that choose the system functions and libraries the library uses. Each
// reads the version anew (GetVersionExA; KELVADON_WINVER chooses it in tests); none caches. A
// failed read raises rtl::EOSError with the run-time's text for the code. Safe from any thread.
#pragma once

// Platform 2 (the NT family).
bool IsWinNT();
// The NT family with a major version above 4.
bool IsWin2000OrLater();
// The NT family with major version 5 (Windows 2000, XP, Server 2003).
bool IsWin2000Family();

// Libraries loaded by their Windows DLL names, and the program's own file. A DLL name maps through
// a fixed table to one of the system's shared libraries; a library may export its entry points
// under a prefix, which GetProcAddress adds. All functions are safe from any thread.
#pragma once

#include <string>
#include <vector>

#include "platform/win/base.h"

// Loads the library that stands for a DLL name. The name is matched in any letter case, with or
// without ".dll": "wsock32" and "ws2_32" are libwsock32.so (entry points prefixed "wsk_"),
// "advapi32" is libkw_advapi32.so (no prefix). The file is searched in LibrarySearchDirs(), and
// the first folder that holds it is used. Loading the same file again returns the same handle and
// counts one more reference.
// Returns the handle, or null with last error 126 for a name outside the table, a file found in
// none of the folders or a file that does not load, and 87 for a null name.
HMODULE LoadLibraryA(const char* name);

// The entry point `name` of a loaded library: the library's symbol prefix + name, and only a
// symbol the library itself defines (never one of its dependencies, such as the C library).
// Returns null with last error 127 when there is none, 6 when the handle is not a loaded library.
FARPROC GetProcAddress(HMODULE module, const char* name);

// Drops one reference. TRUE on success; FALSE with last error 6 when the handle is not a loaded
// library. The libraries are linked never to unload, so an entry point taken earlier stays
// callable after the last FreeLibrary.
BOOL FreeLibrary(HMODULE module);

// The folders LoadLibraryA searches, in order, each with a trailing "/": only $KELVADON_LIBDIR
// when that is set and not empty; else the program's folder, then ../lib/kelvadon beside it.
std::vector<std::string> LibrarySearchDirs();

// The file of a module: the program for null, the loaded file for a handle of LoadLibraryA.
// Copies it with a NUL into buffer and returns its length without the NUL. A buffer too small
// receives size - 1 bytes and the NUL, and the result is size with last error 122. An unknown
// handle gives 0 with last error 126.
DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size);

// The system's texts for error codes, as FormatMessageA gives them: English, each ending in CR LF.
// Safe from any thread.
#pragma once

#include <string>

#include "platform/win/base.h"

constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x100;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x200;
constexpr DWORD FORMAT_MESSAGE_FROM_STRING = 0x400;
constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x800;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x1000;
constexpr DWORD FORMAT_MESSAGE_ARGUMENT_ARRAY = 0x2000;
constexpr DWORD FORMAT_MESSAGE_MAX_WIDTH_MASK = 0xFF;

// Writes the system text for `id` (Win32 and Winsock codes) with a NUL and returns its length
// without the NUL. Only FORMAT_MESSAGE_FROM_SYSTEM texts exist; `source`, `languageId` and the
// width bits are ignored. Inserts ("%1") are never filled: a text that has one needs
// FORMAT_MESSAGE_IGNORE_INSERTS and is then copied as it is.
// With FORMAT_MESSAGE_ALLOCATE_BUFFER, `buffer` is really a char** that receives a LocalAlloc'ed
// copy of at least `size` bytes; the caller frees it with LocalFree.
// Failures return 0 with the last error: 317 for a code without a text, 122 when the text and
// its NUL do not fit in `size` bytes, 87 for other flags, a null buffer or a text whose inserts
// would need arguments, 8 when memory is short.
DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD id, DWORD languageId, char* buffer,
                     DWORD size, void* arguments);

// The system's text for an error code without its trailing blanks, line ends and full stops
// (empty when the system has none).
std::string SysErrorMessage(DWORD code);

// The run-time's operating-system error text for a code: "システムエラー。コード：<code>.\r\n" and
// SysErrorMessage(code).
std::string OSErrorText(DWORD code);

// Conversion between the ANSI code page (932, Shift-JIS) or UTF-8 and UTF-16, with the argument
// conventions of the Windows functions. Safe from any thread.
#pragma once

#include "platform/win/base.h"

constexpr UINT CP_ACP = 0;    // the ANSI code page: 932 here
constexpr UINT CP_OEMCP = 1;  // also 932
constexpr UINT CP_932 = 932;
constexpr UINT CP_UTF8 = 65001;

constexpr DWORD MB_ERR_INVALID_CHARS = 0x08;
constexpr DWORD WC_ERR_INVALID_CHARS = 0x80;

// Converts `mbLength` bytes of `mb` (-1: up to and including its NUL) in code page `codePage`
// into UTF-16. With `wideLength` 0 nothing is written and the result is the number of UTF-16
// units needed; otherwise the units are written and their number returned. An invalid byte
// sequence becomes U+FFFD (UTF-8) or U+30FB (932), or fails with 1113 under
// MB_ERR_INVALID_CHARS. Failures return 0 with the last error: 87 for an unknown code page, a
// null or zero-length input, a negative size or other flags; 122 when the output does not fit.
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* mb, int mbLength, WCHAR* wide,
                        int wideLength);

// Converts `wideLength` UTF-16 units of `wide` (-1: up to and including its NUL) into code page
// `codePage`. With `mbLength` 0 nothing is written and the result is the number of bytes needed;
// otherwise the bytes are written and their number returned. A character the code page lacks
// becomes `defaultChar`'s first byte ("?" when null) and sets *usedDefault to TRUE (932 only;
// both must be null for UTF-8, where an unpaired surrogate becomes U+FFFD or fails with 1113
// under WC_ERR_INVALID_CHARS). Failures return 0 with the last error as for MultiByteToWideChar.
int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* wide, int wideLength, char* mb,
                        int mbLength, const char* defaultChar, BOOL* usedDefault);

// Text helpers of the service framework. Pure functions, safe from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/win/win.h"

// Fills "%N:s" (N a decimal index into args; a missing one gives an empty text) and turns "%%"
// into "%"; every other byte is copied. Works on CP932 text, where "%" is never a trail byte.
std::string FormatIndexed(std::string_view format, const std::vector<std::string>& args);

// CP932 text in the character set of the terminal the program writes to (from LC_ALL, LC_CTYPE or
// LANG; UTF-8 under the C and POSIX locales, whose ASCII no terminal is limited to today). What
// that set lacks becomes "?".
std::string TerminalText(std::string_view cp932);

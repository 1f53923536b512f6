// Text helpers of the service-control library: optional system arguments, multi-strings (NUL
// separated lists ending in two NULs), words, and account names of the form DOMAIN\name. Texts
// are CP932: a delimiter is a single byte, and the trail byte of a double-byte character (such as
// the 0x5C of "ソ") is never taken for one. Pure functions, safe from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/win/win.h"
#include "rtl/classes.h"

// The text, or null when it is empty: how optional system arguments (machine, database, display
// name) are passed. The pointer is borrowed from s.
const char* PCharOrNil(const std::string& s);

// CP932 text as UTF-16 and back, as the wide system calls take and give it. A null or empty wide
// text gives an empty text; bytes that do not convert are replaced as the code-page layer does.
std::u16string AnsiToWide(const std::string& text);
std::string WideToAnsi(const WCHAR* wide);

// Clears list and fills it from the multi-string in buffer, reading no byte at or past limit: the
// first string, then each further one (a string starts at a byte other than NUL after a NUL), up
// to two NULs in a row. A string cut by the limit ends there.
void MultiStringToList(const char* buffer, size_t limit, rtl::TStringList& list);
// Zero-fills the size bytes of buffer and copies the strings, each followed by a NUL, stopping
// before the first one that would not leave room for the final NUL.
void ListToMultiString(char* buffer, size_t size, const rtl::TStringList& list);

// Words are the longest runs of characters outside the delimiter bytes. WordPosition gives the
// 1-based byte position of word n (counted from 1), or 0 when there is none; ExtractWord the word,
// or an empty text.
int WordCount(std::string_view text, std::string_view delimiters);
int WordPosition(int n, std::string_view text, std::string_view delimiters);
std::string ExtractWord(int n, std::string_view text, std::string_view delimiters);

// "DOMAIN\name" into its two parts (the first two words at "\"); with fewer than two words the
// domain is empty and the name is the whole text.
void SplitAccountName(const std::string& account, std::string& domain, std::string& name);
// domain + "\" + name, or the name alone when the domain is empty.
std::string JoinAccountName(const std::string& domain, const std::string& name);

// Starting programs and opening documents. Every process started here is detached: it runs in a
// session of its own with stdin, stdout and stderr on /dev/null, inherits no other descriptor
// and is never a child of the caller (so it never becomes a zombie of it). Safe from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/win/base.h"

// ShellExecuteA results of 32 or less.
constexpr UINT_PTR SE_ERR_FNF = 2;
constexpr UINT_PTR SE_ERR_PNF = 3;
constexpr UINT_PTR SE_ERR_ACCESSDENIED = 5;
constexpr UINT_PTR SE_ERR_OOM = 8;
constexpr UINT_PTR SE_ERR_BAD_FORMAT = 11;
constexpr UINT_PTR SE_ERR_NOASSOC = 31;

constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOW = 5;

// Opens `file`. A URL (a text containing "://") and a file that is not an executable regular file
// (a document, a folder) are handed to xdg-open; an executable file is started with `parameters`
// split as a Windows command line (SplitCommandLine). A name without "/" is looked up in the
// current folder, then as a program in PATH. `directory` (optional) is the started process's
// working folder; `operation` must be null, empty or "open" in any case of its letters; `hwnd` and
// `show` are not used. Returns a value above 32 on success; else SE_ERR_FNF (the file or program
// does not exist), SE_ERR_PNF (`directory` does not exist), SE_ERR_ACCESSDENIED, SE_ERR_OOM,
// SE_ERR_BAD_FORMAT or SE_ERR_NOASSOC (no xdg-open, another operation, or another failure), with
// the last error set.
HINSTANCE ShellExecuteA(HWND hwnd, const char* operation, const char* file, const char* parameters,
                        const char* directory, int show);

// Starts `path` with arguments `args` (argv[0] is `path` itself; `args` follow) as a detached
// process whose working folder is `dir` (the caller's when empty). A path without "/" is looked
// up in PATH; a relative path is taken from the caller's current folder. The environment is
// inherited. Returns true once the program has been executed; false with the last error when it
// could not be: 2 for a missing program, 3 for a missing `dir`, 5 for a file that may not be
// executed, 11 for one that is not a program, 8 when no process could be made.
bool SpawnDetached(const std::string& path, const std::vector<std::string>& args,
                   const std::string& dir);

// Splits a command line as Windows programs do: blanks (space, tab) separate arguments, double
// quotes group (and "" inside quotes is one quote), 2n backslashes before a quote are n
// backslashes and the quote groups, 2n+1 backslashes before a quote are n backslashes and a
// literal quote; other backslashes are literal.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// The file of the executable program `name` found in the folders of PATH, or an empty text.
std::string FindProgram(const std::string& name);

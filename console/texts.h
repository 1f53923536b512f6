// The main window's texts, as CP932 bytes: written in UTF-8 in texts.cpp, which is
// compiled with -fexec-charset=CP932 (kelvadon_messages).
#pragma once

namespace console::text {

extern const char* const kTitle;     // "KelvadonManager Ver1.36"
extern const char* const kFontName;  // "ＭＳ Ｐゴシック"

// Menu, tool bar and pages.
extern const char* const kMnuFile;
extern const char* const kMnuSave;
extern const char* const kMnuClose;
extern const char* const kMnuHelpTop;
extern const char* const kMnuVersion;
extern const char* const kMnuHelp;
extern const char* const kHintSave;
extern const char* const kHintVersion;
extern const char* const kHintHelp;
extern const char* const kHintClose;
extern const char* const kTabAdmin;
extern const char* const kTabMail;
extern const char* const kTamMailEnv;

// Boxes.
extern const char* const kServiceRunning;   // the first show's question
extern const char* const kExitQuestion;     // the exit question
extern const char* const kPortInUse;        // 10048 at the first show
extern const char* const kErrorFormCreate;  // any other failure at the first show
extern const char* const kErrorGetServiceStatus;
extern const char* const kErrorFormCloseQuery;  // ends in an ASCII ")"

}  // namespace console::text

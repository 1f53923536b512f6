// The texts of the mail pages and the splash window, as CP932 bytes: written in UTF-8 in
// pagetexts.cpp, which is compiled with -fexec-charset=CP932 (kelvadon_messages).
#pragma once

namespace console::text {

// The splash window's font, "ＭＳ ゴシック" (the other windows use kFontName, texts.h).
extern const char* const kSplashFontName;

// TabMail.
extern const char* const kGrpRule;       // "メール送信条件"
extern const char* const kRuleLabel[5];  // "監視ワード1" .. "監視ワード5"
extern const char* const kGrpContent;    // "メール送信内容"
extern const char* const kLblSubject;
extern const char* const kLblBody;
extern const char* const kLblWords;  // the alert text's placeholders

// TamMailEnv.
extern const char* const kGrpServer;
extern const char* const kLblSmtpServer;
extern const char* const kLblPort;  // SMTP's and POP's
extern const char* const kChkPopSmtp;
extern const char* const kLblPopServer;
extern const char* const kLblPopUser;
extern const char* const kLblPopPasswd;
extern const char* const kLblFromMail;
extern const char* const kLblToMail;
extern const char* const kLblToMailNote;
extern const char* const kGrpReport;
extern const char* const kLblReport;
extern const char* const kRdoReportNo;
extern const char* const kRdoReportYes;

// The refusals of the check before saving.
extern const char* const kNoFromMail;
extern const char* const kNoToMail;
extern const char* const kNoSmtpServer;

}  // namespace console::text

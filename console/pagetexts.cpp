// The texts of the mail pages and the splash window, compiled to CP932.
#include "console/pagetexts.h"

static_assert(sizeof("ソ") == 3, "this file must be compiled with -fexec-charset=CP932");

namespace console::text {

const char* const kSplashFontName = "ＭＳ ゴシック";

const char* const kGrpRule = "メール送信条件";
const char* const kRuleLabel[5] = {"監視ワード1", "監視ワード2", "監視ワード3", "監視ワード4",
                                   "監視ワード5"};
const char* const kGrpContent = "メール送信内容";
const char* const kLblSubject = "件名";
const char* const kLblBody = "本文";
const char* const kLblWords = "%Word% %SearchLine%";

const char* const kGrpServer = "サーバー情報";
const char* const kLblSmtpServer = "SMTPサーバ名";
const char* const kLblPort = "ポート";
const char* const kChkPopSmtp = "Pop Before SMTP";
const char* const kLblPopServer = "POPサーバ名";
const char* const kLblPopUser = "ユーザ名";
const char* const kLblPopPasswd = "パスワード";
const char* const kLblFromMail = "送信元メールアドレス";
const char* const kLblToMail = "送信先メールアドレス";
const char* const kLblToMailNote = "※カンマ区切りで複数メールアドレス指定";
const char* const kGrpReport = "レポート設定";
const char* const kLblReport = "レポートの送信";
const char* const kRdoReportNo = "しない";
const char* const kRdoReportYes = "する";

const char* const kNoFromMail = "送信元メールアドレスを設定してください。";
const char* const kNoToMail = "送信先メールアドレスを設定してください。";
const char* const kNoSmtpServer = "SMTPサーバを設定してください。";

}  // namespace console::text

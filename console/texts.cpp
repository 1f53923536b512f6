// The main window's texts, compiled to CP932.
#include "console/texts.h"

static_assert(sizeof("ソ") == 3, "this file must be compiled with -fexec-charset=CP932");

namespace console::text {

const char* const kTitle = "KelvadonManager Ver1.36";
const char* const kFontName = "ＭＳ Ｐゴシック";

const char* const kMnuFile = "ファイル(&F)";
const char* const kMnuSave = "設定保存(&S)";
const char* const kMnuClose = "終了(&X)";
const char* const kMnuHelpTop = "ヘルプ(&H)";
const char* const kMnuVersion = "バージョン(&A)";
const char* const kMnuHelp = "ヘルプ(&H)";
const char* const kHintSave = "設定保存";
const char* const kHintVersion = "バージョン";
const char* const kHintHelp = "ヘルプ";
const char* const kHintClose = "終了";
const char* const kTabAdmin = "管理コンソール";
const char* const kTabMail = "メール設定";
const char* const kTamMailEnv = "メール環境設定";

const char* const kServiceRunning =
    "KelvadonManagerサービスプログラムが開始されています。\r\n"
    "設定プログラムを起動するにはサービスを停止しなければなりません。\r\n"
    "サービスを停止して設定を行いますか？";
const char* const kExitQuestion =
    "KelvadonManagerサービスを起動して終了します。\r\nよろしいですか？";
const char* const kPortInUse = "すでに設定プログラムを起動しています。\r\nプログラムを終了します。";
const char* const kErrorFormCreate = "システムエラーが発生いたしました。（FormCreate）";
const char* const kErrorGetServiceStatus = "システムエラーが発生いたしました。（GetServiceStatus）";
const char* const kErrorFormCloseQuery = "システムエラーが発生いたしました。（FormCloseQuery)";

}  // namespace console::text

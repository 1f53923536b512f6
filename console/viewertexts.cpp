// The record viewer's texts, compiled to CP932.
#include "console/viewertexts.h"

static_assert(sizeof("ソ") == 3, "this file must be compiled with -fexec-charset=CP932");

namespace console::text {

const char* const kDayChoice[kDayChoices] = {"今日",  "1日前", "2日前", "3日前",
                                             "4日前", "5日前", "6日前"};

const char* const kSyosaiCaption = "詳細";
const char* const kSyosaiRows[10] = {
    "日付",       "時刻",     "操作",     "コンピュータ", "コンピュータの説明",
    "IPアドレス", "ユーザー", "ドライブ", "デバイス",     "ファイル名"};

}  // namespace console::text

// The console's two questions about the service, byte for byte (CP932), as the console's tests
// expect them: the one before it takes the collection over from a running service, and the exit
// question.
#pragma once

#include <string>

#include "rtl/cp932.h"

namespace consoletest {

const std::string kRunningQuestion = rtl::Utf8ToCp932(
    "KelvadonManagerサービスプログラムが開始されています。\r\n"
    "設定プログラムを起動するにはサービスを停止しなければなりません。\r\n"
    "サービスを停止して設定を行いますか？");
const std::string kExitQuestion =
    rtl::Utf8ToCp932("KelvadonManagerサービスを起動して終了します。\r\nよろしいですか？");

}  // namespace consoletest

// Message file: UTF-8 source compiled into CP932 bytes. Include nothing beyond <cstddef>.
#include <cstddef>

#include "rtl/messages.h"

static_assert(sizeof("ソ") == 3, "this file must be compiled with -fexec-charset=CP932");

namespace rtl::msg {

const char kOSErrorFormat[] = "システムエラー。コード：%d.\r\n%s";
const char kExceptionReportFormat[] = "%s がモジュール %s の %p で発生しました。\r\n%s%s\r\n";

}  // namespace rtl::msg

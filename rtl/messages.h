// Japanese texts of the run-time, as CP932 bytes. Written in UTF-8 in messages.cpp, which is
// compiled with -fexec-charset=CP932 (see kelvadon_messages in cmake/Kelvadon.cmake).
#pragma once

namespace rtl::msg {

// The operating-system error text: "システムエラー。コード：%d.\r\n%s" (code, system message).
extern const char kOSErrorFormat[];

}  // namespace rtl::msg

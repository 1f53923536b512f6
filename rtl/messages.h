// Japanese texts of the run-time, as CP932 bytes. Written in UTF-8 in messages.cpp, which is
// compiled with -fexec-charset=CP932 (see kelvadon_messages in cmake/Kelvadon.cmake).
#pragma once

namespace rtl::msg {

// The operating-system error text: "システムエラー。コード：%d.\r\n%s" (code, system message).
extern const char kOSErrorFormat[];
// The report of an exception nothing handled: "%s がモジュール %s の %p
// で発生しました。\r\n%s%s\r\n" (class, module, address, message, the message's ending: "." unless
// it ends in one already).
extern const char kExceptionReportFormat[];

}  // namespace rtl::msg

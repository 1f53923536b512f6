// The collector's Japanese texts, as CP932 bytes (compiled from UTF-8 in messages.cpp).
#pragma once

namespace collector::msg {

// Headings of event entries: information (code 98) and error (code 99).
extern const char kInfoHeading[];   // "システムインフォメーション"
extern const char kErrorHeading[];  // "システムエラーが発生しました。"
// The information event of the daily restart.
extern const char kRestartEvent[];  // "サービスプログラムの自動再起動処理を行います。"
// The first line of the information event of a file received over FTP.
extern const char
    kReceivedFileEvent[];  // "Kelvadon Manager Create Vellistrand ファイルを受信しました。"

}  // namespace collector::msg

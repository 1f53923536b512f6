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
// Failures of an alert mail, written as "ChkRecvString System Error Exception : " + text.
extern const char kPopLoginFailed[];  // "Pop Before SMTPのPopサーバ認証に失敗しました。"
extern const char kSmtpOpenFailed[];  // "SMTPサーバのオープンに失敗しました。"
// The mail was refused: kMailToHead + the To address + kMailFailedTail.
extern const char kMailToHead[];      // "宛先 "
extern const char kMailFailedTail[];  // " へのメール送信に失敗しました。"

}  // namespace collector::msg

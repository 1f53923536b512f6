// Message file: UTF-8 source compiled into CP932 bytes. Include nothing beyond <cstddef>.
#include <cstddef>

#include "collector/messages.h"

static_assert(sizeof("ソ") == 3, "this file must be compiled with -fexec-charset=CP932");

namespace collector::msg {

const char kInfoHeading[] = "システムインフォメーション";
const char kErrorHeading[] = "システムエラーが発生しました。";
const char kRestartEvent[] = "サービスプログラムの自動再起動処理を行います。";
const char kReceivedFileEvent[] = "Kelvadon Manager Create Vellistrand ファイルを受信しました。";
const char kPopLoginFailed[] = "Pop Before SMTPのPopサーバ認証に失敗しました。";
const char kSmtpOpenFailed[] = "SMTPサーバのオープンに失敗しました。";
const char kMailToHead[] = "宛先 ";
const char kMailFailedTail[] = " へのメール送信に失敗しました。";

}  // namespace collector::msg

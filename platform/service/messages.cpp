// Message file: UTF-8 source compiled into CP932 bytes. Include nothing beyond <cstddef>.
#include <cstddef>

#include "platform/service/messages.h"

static_assert(sizeof("ソ") == 3, "this file must be compiled with -fexec-charset=CP932");

namespace svcmsg {

const char kInstalled[] = "サービスを登録しました。";
const char kUninstalled[] = "サービスの登録を解除しました。";
const char kInstallFailed[] = "\"%1:s\" : サービス \"%0:s\" の登録は失敗しました。";
const char kUninstallFailed[] = "\"%1:s\" : サービス \"%0:s\" の登録解除に失敗しました。";
const char kServiceFailed[] = "サービス失敗 %0:s: %1:s";
const char kStageStart[] = "開始";
const char kStageExecute[] = "実行";

}  // namespace svcmsg

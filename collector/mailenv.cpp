#include "collector/mailenv.h"

#include "settings/keys.h"

namespace collector {

TMailEnv ReadMailEnv(const TIniFileCompo& ini) {
  using settings::ReadSetting;
  TMailEnv env;
  env.ToMail = ReadSetting(ini, settings::kToMail);
  env.FromMail = ReadSetting(ini, settings::kFromMail);
  env.SmtpServer = ReadSetting(ini, settings::kSmtpServer);
  env.SmtpPort = ReadSetting(ini, settings::kSmtpPort);
  env.PopBeforeSmtp = ReadSetting(ini, settings::kPopBeforeSmtp);
  env.PopServer = ReadSetting(ini, settings::kPopServer);
  env.PopPort = ReadSetting(ini, settings::kPopPort);
  env.PopUser = ReadSetting(ini, settings::kPopUser);
  env.PopPasswd = ReadSetting(ini, settings::kPopPasswd);
  return env;
}

bool MailConfigured(const TIniFileCompo& ini) {
  return !settings::ReadSetting(ini, settings::kToMail).empty() &&
         !settings::ReadSetting(ini, settings::kFromMail).empty() &&
         !settings::ReadSetting(ini, settings::kSmtpServer).empty();
}

}  // namespace collector

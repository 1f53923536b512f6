// The collector's hooks on its FTP server.
#include "collector/kelvadon.h"

namespace {

constexpr char kFtpUser[] = "Brindlework";
constexpr char kFtpPassword[] = "rtso7362";

// Compares without an early exit, so the time taken tells nothing of where texts differ.
bool SameSecret(const std::string& a, const char* b) {
  const size_t n = std::char_traits<char>::length(b);
  unsigned diff = a.size() != n;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i]) ^
                                                static_cast<unsigned char>(b[i % (n ? n : 1)]);
  return diff == 0;
}

}  // namespace

void TKelvadonManager::KelvadonFtpAuthenticate(rtl::TObject* Sender, TFtpCtrlSocket* Client,
                                               const TFtpString& UserName,
                                               const TFtpString& Password, bool& Authenticated) {
  const bool user = SameSecret(UserName, kFtpUser);
  const bool password = SameSecret(Password, kFtpPassword);
  if (!user || !password) {
    Authenticated = false;
    return;
  }
  Client->HomeDir = ProgramDir;
}

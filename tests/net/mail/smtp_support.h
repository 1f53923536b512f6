// Small helpers of the SMTP client's tests: a client whose internal state the test may read, a
// time zone and a wall clock held for one scope, a string list's entries, and CP932 text from
// UTF-8 source text.
#pragma once

#include <stdlib.h>
#include <time.h>

#include <optional>
#include <string>
#include <vector>

#include "net/mail/syncsmtp.h"
#include "rtl/cp932.h"
#include "rtl/datetime.h"
#include "tests/support/clock.h"

namespace smtptest {

// TSyncSmtpCli with the engine's internal state readable.
class ProbeClient : public TSyncSmtpCli {
 public:
  using TSyncSmtpCli::Boundary;
  using TSyncSmtpCli::EsmtpAccepted;
  using TSyncSmtpCli::HeaderLines;
  using TSyncSmtpCli::IsConnected;
  using TSyncSmtpCli::MsgEncoding;
  using TSyncSmtpCli::ReplyCode;
  using TSyncSmtpCli::ResultCode;
  using TSyncSmtpCli::ServerAuthTypes;
};

// TZ set to zone (and tzset) until the object goes.
class ScopedZone {
 public:
  explicit ScopedZone(const char* zone) {
    if (const char* old = getenv("TZ")) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedZone() {
    if (old_)
      setenv("TZ", old_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  ScopedZone(const ScopedZone&) = delete;
  ScopedZone& operator=(const ScopedZone&) = delete;

 private:
  std::optional<std::string> old_;
};

using testsupport::ScopedClock;

// The entries of a string list.
inline std::vector<std::string> Entries(const rtl::TStringList& list) {
  std::vector<std::string> v;
  for (int i = 0; i < list.Count(); ++i)
    v.push_back(list[i]);
  return v;
}

inline std::string Sjis(const std::string& utf8) {
  return rtl::Utf8ToCp932(utf8);
}

}  // namespace smtptest

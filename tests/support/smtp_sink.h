// The SMTP sink of tests/peers/smtp_sink.py (aiosmtpd under Debian's /usr/bin/python3), started
// for one test in a temporary folder of its own and stopped with the object. Use from one thread.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/files.h"

namespace testsupport {

// The sink's interpreter: "" when it or aiosmtpd is missing.
std::string SinkPython();

class SmtpSink {
 public:
  // Starts the sink with the script's switches ("--refuse", "rcpt=a@b", "--hold", "dot=5",
  // "--auth", "user:password", "--auth-exclude", "LOGIN", ...).
  explicit SmtpSink(const std::vector<std::string>& switches = {});
  ~SmtpSink();
  SmtpSink(const SmtpSink&) = delete;
  SmtpSink& operator=(const SmtpSink&) = delete;

  // The port it listens on; "" when it did not start (see Error()).
  const std::string& Port() const { return port_; }
  std::string Error() const;

  // One stored message: the envelope lines ("MAIL FROM:<a>", "RCPT TO:<b>", ...) and the data
  // with dot-stuffing undone.
  struct Message {
    std::vector<std::string> envelope;
    std::string data;
  };
  // What the sink has stored so far, in order.
  std::vector<Message> Messages() const;
  // The login attempts so far (with "--auth"), one line each: mechanism, user, password and "ok"
  // or "refused", separated by TABs.
  std::vector<std::string> AuthLog() const;
  // The holds begun so far (with "--hold"), one step ("helo", "mail", "rcpt", "dot") each: while
  // the last one lasts, the client waits for that step's reply.
  std::vector<std::string> Holds() const;

 private:
  testsupport::TempDir dir_;
  pid_t pid_ = -1;
  std::string port_;
};

}  // namespace testsupport

// In a test: skips it when there is no interpreter with aiosmtpd, fails it when the sink did not
// start.
#define REQUIRE_SINK(sink)                                                 \
  do {                                                                     \
    if (testsupport::SinkPython().empty()) GTEST_SKIP() << (sink).Error(); \
    ASSERT_FALSE((sink).Port().empty()) << (sink).Error();                 \
  } while (0)

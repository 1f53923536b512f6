// A scripted SMTP server and a client aimed at it, with the client's request ends and its trace
// recorded: the rig of the engine and login tests. Use from one thread.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tests/net/mail/smtp_fake.h"
#include "tests/net/mail/smtp_support.h"
#include "tests/support/pump.h"

namespace smtptest {

// A request's end as OnRequestDone reported it.
using End = std::pair<TSmtpRequest, int>;

struct Rig {
  FakeSmtpServer fake;
  ProbeClient client;
  std::vector<End> ends;
  std::vector<std::string> trace;

  Rig() {
    client.Host = "127.0.0.1";
    client.Port = fake.Port();
    client.SignOn = "tester";
    client.Timeout = 5;
    client.FromName = "from@x.jp";
    client.HdrFrom = "from@x.jp";
    client.HdrTo = "to@x.jp";
    client.RcptName.Add("to@x.jp");
    client.OnRequestDone = [this](rtl::TObject*, TSmtpRequest rq, WORD code) {
      ends.emplace_back(rq, code);
    };
    client.OnDisplay = [this](rtl::TObject*, const std::string& m) { trace.push_back(m); };
  }
  // Answers command lines that begin with prefix with answer; the rest as usual.
  void Answer(const std::string& prefix, FakeSmtpServer::Answer answer) {
    auto previous = fake.OnCommand;
    fake.OnCommand = [prefix, answer, previous](const std::string& command) {
      if (command.rfind(prefix, 0) == 0) return answer;
      return previous ? previous(command) : FakeSmtpServer::Standard(command);
    };
  }
  // The commands the server got after HELO.
  std::vector<std::string> CommandsAfterHelo() const {
    std::vector<std::string> after;
    bool seen = false;
    for (const auto& c : fake.Commands) {
      if (seen) after.push_back(c);
      seen = seen || c.rfind("HELO", 0) == 0;
    }
    return after;
  }
  // Lets the posted request ends arrive.
  void Settle() { testsupport::PumpFor(30); }
};

}  // namespace smtptest

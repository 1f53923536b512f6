#include "tests/net/mail/smtp_fake.h"

#include <cctype>

#include "tests/support/pump.h"

namespace smtptest {

namespace {

std::string Verb(const std::string& command) {
  std::string verb = command.substr(0, command.find_first_of(" :"));
  for (char& c : verb)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return verb;
}

}  // namespace

FakeSmtpServer::FakeSmtpServer() : listener_(std::make_unique<TAsyncSocket>()) {
  listener_->SetProto("tcp");
  listener_->SetAddr("127.0.0.1");
  listener_->SetPort("0");
  listener_->OnSessionAvailable = [this](rtl::TObject*, WORD) { Accept(); };
  listener_->Listen();
  port_ = listener_->GetSockPort();
}

FakeSmtpServer::~FakeSmtpServer() {
  if (session_) {
    session_->OnDataAvailable = nullptr;
    session_->OnSessionClosed = nullptr;
  }
  session_.reset();
  listener_->OnSessionAvailable = nullptr;
  listener_.reset();
  testsupport::PumpFor(10);
}

FakeSmtpServer::Answer FakeSmtpServer::Standard(const std::string& command) {
  const std::string verb = Verb(command);
  if (verb == "HELO" || verb == "EHLO" || verb == "MAIL" || verb == "RCPT" || verb == "RSET" ||
      verb == "VRFY")
    return {"250 OK\r\n"};
  if (verb == "DATA") return {"354 Go ahead\r\n"};
  if (verb == ".") return {"250 Stored\r\n"};
  if (verb == "QUIT") return {"221 Bye\r\n", true};
  return {"500 Unknown command\r\n"};
}

bool FakeSmtpServer::SessionOpen() const {
  return session_ && !closed_;
}

void FakeSmtpServer::Accept() {
  const SOCKET h = listener_->Accept();
  if (h == INVALID_SOCKET) return;
  if (session_) {
    session_->OnDataAvailable = nullptr;
    session_->OnSessionClosed = nullptr;
  }
  session_ = std::make_unique<TAsyncSocket>();
  session_->LineLimit = 0;
  session_->SetLineMode(true);
  session_->OnDataAvailable = [this](rtl::TObject*, WORD) {
    std::string line = session_->ReceiveStr();
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) {
      Line(line);
    }
  };
  session_->OnSessionClosed = [this](rtl::TObject*, WORD) { closed_ = true; };
  session_->SetHSocket(h);
  closed_ = false;
  inData_ = false;
  ++Sessions;
  if (!Greeting.empty()) session_->SendStr(Greeting);
}

void FakeSmtpServer::Line(const std::string& line) {
  if (inData_ && line != ".\r\n") {
    Data += line;
    return;
  }
  const std::string command = line.substr(0, line.size() - 2);
  Commands.push_back(command);
  const bool endOfData = inData_;
  inData_ = false;
  const Answer answer = OnCommand ? OnCommand(command) : Standard(command);
  if (!endOfData && Verb(command) == "DATA" && answer.reply.rfind("354", 0) == 0) {
    inData_ = true;
    Data.clear();
  }
  if (!answer.reply.empty()) session_->SendStr(answer.reply);
  if (answer.close) session_->CloseDelayed();
}

std::string Unstuffed(const std::string& data) {
  std::string out;
  size_t start = 0;
  while (start < data.size()) {
    size_t end = data.find("\r\n", start);
    end = end == std::string::npos ? data.size() : end + 2;
    out += data.substr(start + (data[start] == '.' ? 1 : 0),
                       end - start - (data[start] == '.' ? 1 : 0));
    start = end;
  }
  return out;
}

}  // namespace smtptest

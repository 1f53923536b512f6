#include "tests/net/ftp/ftp_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "net/ftp/ftplogin.h"
#include "tests/support/pump.h"

namespace ftptest {

using testsupport::PumpFor;
using testsupport::PumpUntil;

ServerFixture::ServerFixture() : server_(std::make_unique<TFtpServer>()) {
  server_->Name = "TestFtp";
  server_->Addr = "127.0.0.1";
  server_->Port = "0";
  server_->LoginFailDelay = 100;
  const std::string home = home_.path();
  server_->OnAuthenticate = [home](rtl::TObject*, TFtpCtrlSocket* client, const std::string& user,
                                   const std::string& pass, bool& ok) {
    if (!FtpSameSecret(user, kUser) || !FtpSameSecret(pass, kPassword)) {
      ok = false;
      return;
    }
    client->HomeDir = home + "/";
  };
  server_->OnAnswerToClient = [this](rtl::TObject*, TFtpCtrlSocket*, std::string& answer) {
    Answers.push_back(answer);
  };
  server_->OnClientDisconnect = [this](rtl::TObject*, TFtpCtrlSocket*, WORD) { ++Disconnects; };
  server_->Start();
  port_ = server_->BoundPort();
  EXPECT_FALSE(port_.empty());
  EXPECT_NE(port_, "0");
}

ServerFixture::~ServerFixture() {
  server_->Stop();
  server_->DisconnectAll();
  server_.reset();
  PumpFor(20);  // let released sockets go
}

RawClient::RawClient(const std::string& port) : sock_(std::make_unique<TAsyncSocket>()) {
  sock_->SetAddr("127.0.0.1");
  sock_->SetPort(port);
  sock_->OnDataAvailable = [this](rtl::TObject*, WORD) { received_ += sock_->ReceiveStr(); };
  sock_->OnSessionClosed = [this](rtl::TObject*, WORD) { closed_ = true; };
  sock_->Connect();
  PumpUntil([this] { return sock_->State() == wsConnected || closed_; });
}

RawClient::~RawClient() {
  sock_->OnDataAvailable = nullptr;
  sock_->OnSessionClosed = nullptr;
  if (sock_->State() != wsClosed) sock_->Close();
}

bool RawClient::Connected() const {
  return sock_->State() == wsConnected && !closed_;
}

void RawClient::Send(const std::string& bytes) {
  sock_->SendStr(bytes);
}

void RawClient::SendUrgent(const std::string& bytes) {
  sock_->SetSendFlags(wsSendUrgent);
  sock_->SendStr(bytes);
  sock_->SetSendFlags(wsSendNormal);
}

std::string RawClient::ReadLine(unsigned limitMs) {
  if (!PumpUntil([this] { return received_.find("\r\n") != std::string::npos; }, limitMs))
    return std::string();
  const size_t end = received_.find("\r\n");
  std::string line = received_.substr(0, end);
  received_.erase(0, end + 2);
  return line;
}

std::string RawClient::ReadReply(unsigned limitMs) {
  std::string all;
  while (true) {
    std::string line = ReadLine(limitMs);
    if (line.empty()) return std::string();
    if (!all.empty()) all += "\n";
    all += line;
    if (line.size() >= 4 && line[3] == ' ' && std::isdigit(static_cast<unsigned char>(line[0])))
      return all;
  }
}

std::string RawClient::Command(const std::string& line, unsigned limitMs) {
  Send(line + "\r\n");
  return ReadReply(limitMs);
}

bool RawClient::WaitClosed(unsigned limitMs) {
  return PumpUntil([this] { return closed_; }, limitMs);
}

void RawClient::Pause() {
  sock_->Pause();
}
void RawClient::Resume() {
  sock_->Resume();
}

bool RawClient::Login() {
  if (ReadLine().rfind("220", 0) != 0) return false;
  if (Command(std::string("USER ") + kUser).rfind("331", 0) != 0) return false;
  return Command(std::string("PASS ") + kPassword).rfind("230", 0) == 0;
}

DataPeer::DataPeer() : sock_(std::make_unique<TAsyncSocket>()) {
  sock_->OnDataAvailable = [this](rtl::TObject*, WORD) {
    char buf[65536];
    const int n = sock_->Receive(buf, sizeof buf);
    if (n > 0) received_.append(buf, static_cast<size_t>(n));
  };
  sock_->OnSessionClosed = [this](rtl::TObject*, WORD) { closed_ = true; };
}

DataPeer::~DataPeer() {
  sock_->OnDataAvailable = nullptr;
  sock_->OnSessionClosed = nullptr;
  if (sock_->State() != wsClosed) sock_->Close();
  if (listener_) {
    listener_->OnSessionAvailable = nullptr;
    if (listener_->State() != wsClosed) listener_->Close();
  }
}

bool DataPeer::Connect(int port, const std::string& from) {
  sock_->SetAddr("127.0.0.1");
  sock_->SetPort(std::to_string(port));
  sock_->SetLocalAddr(from);
  sock_->Connect();
  return WaitConnected();
}

std::string DataPeer::Listen() {
  listener_ = std::make_unique<TAsyncSocket>();
  listener_->SetAddr("127.0.0.1");
  listener_->SetPort("0");
  listener_->OnSessionAvailable = [this](rtl::TObject*, WORD) {
    SOCKET h = listener_->Accept();
    if (h == INVALID_SOCKET) return;
    sock_->SetHSocket(h);
    accepted_ = true;
    listener_->Close();
  };
  listener_->Listen();
  const int port = std::atoi(listener_->GetSockPort().c_str());
  return "127,0,0,1," + std::to_string(port / 256) + "," + std::to_string(port % 256);
}

bool DataPeer::WaitConnected(unsigned limitMs) {
  return PumpUntil([this] { return Connected() || closed_; }, limitMs) && Connected();
}

bool DataPeer::Connected() const {
  return sock_->State() == wsConnected;
}

bool DataPeer::WaitClosed(unsigned limitMs) {
  return PumpUntil([this] { return closed_; }, limitMs);
}

void DataPeer::Send(const std::string& bytes) {
  // The server may have closed the connection already (a refused upload): nothing to send to.
  if (sock_->State() != wsConnected) return;
  try {
    sock_->SendStr(bytes);
  } catch (const rtl::Exception&) {
  }
}

void DataPeer::Finish(unsigned limitMs) {
  PumpUntil([this] { return sock_->AllSent() || closed_; }, limitMs);
  if (sock_->State() != wsClosed) sock_->Close();
}

void DataPeer::Reset() {
  if (sock_->State() != wsClosed) sock_->Abort();
}

void DataPeer::Pause() {
  sock_->Pause();
}

void DataPeer::Resume() {
  sock_->Resume();
}

int PasvPort(const std::string& reply) {
  int h[4];
  int p1 = 0;
  int p2 = 0;
  if (std::sscanf(reply.c_str(), "227 Entering Passive Mode (%d,%d,%d,%d,%d,%d).", &h[0], &h[1],
                  &h[2], &h[3], &p1, &p2) != 6)
    return 0;
  return p1 * 256 + p2;
}

std::string Pattern(size_t length, unsigned seed) {
  std::string s(length, '\0');
  uint32_t x = seed * 2654435761u + 12345u;
  for (size_t i = 0; i < length; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>(x >> 24);
  }
  return s;
}

bool PumpUntilNoClients(TFtpServer& server, unsigned limitMs) {
  return PumpUntil([&] { return server.ClientCount() == 0; }, limitMs);
}

std::string ShellQuote(const std::string& text) {
  std::string q = "'";
  for (char c : text) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

int RunWhilePumping(const std::string& commandLine, std::string& output, unsigned limitMs) {
  testsupport::TempDir dir;
  const std::string out = dir.File("output");
  const std::string line = "(" + commandLine + ") >" + ShellQuote(out) + " 2>&1";
  std::atomic<bool> done{false};
  int status = -1;
  std::thread runner([&] {
    status = std::system(line.c_str());
    done = true;
  });
  const bool ended = PumpUntil([&] { return done.load(); }, limitMs);
  // A command past the limit is ended by its own `timeout`; the server keeps being served until
  // then, so the client is never left waiting on a server that cannot answer.
  while (!done.load())
    PumpFor(20);
  runner.join();
  output = testsupport::ReadFile(out);
  if (!ended || status == -1) return -1;
  // std::system gives a wait status: the exit code sits in its second byte.
  if ((status & 0x7F) != 0) return -1;
  return (status >> 8) & 0xFF;
}

}  // namespace ftptest

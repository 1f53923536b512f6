// The SOCKS layer: with SocksServer set, Connect reaches its destination through a SOCKS 4, 4A or
// 5 proxy. The socket connects to the proxy, runs the exchange itself and only then reports
// OnSessionConnected, so the owner sees an ordinary connection. Without SocksServer everything
// passes through unchanged. A close forgets the proxy settings.
#pragma once

#include <string>

#include "net/socket/asyncsocket.h"

enum TSocksAuthentication { socksNoAuthentication, socksAuthenticateUsercode };
enum TSocksAuthState { socksAuthStart, socksAuthSuccess, socksAuthFailure, socksAuthNotRequired };

using TSocksErrorEvent =
    std::function<void(rtl::TObject* Sender, int Error, const std::string& Msg)>;
using TSocksAuthStateEvent = std::function<void(rtl::TObject* Sender, TSocksAuthState AuthState)>;

// SOCKS error codes.
constexpr int socksProtocolError = 20001;
constexpr int socksVersionError = 20002;
constexpr int socksAuthMethodError = 20003;
constexpr int socksGeneralFailure = 20004;  // 20004-20011: the level-5 reply codes 1-8
constexpr int socksConnectionNotAllowed = 20005;
constexpr int socksNetUnreachable = 20006;
constexpr int socksHostUnreachable = 20007;
constexpr int socksConnectionRefused = 20008;
constexpr int socksTtlExpired = 20009;
constexpr int socksUnknownCommand = 20010;
constexpr int socksUnknownAddressType = 20011;
constexpr int socksUnassignedError = 20012;
constexpr int socksInternalError = 20013;
constexpr int socksAuthenticationFailed = 20015;
constexpr int socksRejectedOrFailed = 20016;
constexpr int socksHostResolutionFailed = 20017;

class TCustomSocksSocket : public TCustomAsyncSocket {
 public:
  explicit TCustomSocksSocket(rtl::TComponent* owner = nullptr);

  const std::string& SocksServer() const { return FSocksServer; }
  virtual void SetSocksServer(const std::string& value);
  const std::string& SocksPort() const { return FSocksPort; }
  virtual void SetSocksPort(const std::string& value);
  const std::string& SocksLevel() const { return FSocksLevel; }
  // "4", "4A" (or "4a") and "5"; stored in capitals.
  void SetSocksLevel(const std::string& value);
  const std::string& BoundAddr() const { return FBoundAddr; }
  const std::string& BoundPort() const { return FBoundPort; }
  int SocksState() const { return FSocksState; }

  std::string SocksUsercode;
  std::string SocksPassword;
  TSocksAuthentication SocksAuthentication = socksNoAuthentication;
  TSocksErrorEvent OnSocksError;
  TSessionConnected OnSocksConnected;
  TSocksAuthStateEvent OnSocksAuthState;

  void Connect() override;
  void Listen() override;

 protected:
  void ResetDefaults() override;
  void TriggerSessionConnected(WORD Error) override;
  void TriggerSessionClosed(WORD Error) override;
  bool TriggerDataAvailable(WORD Error) override;
  int GetRcvdCount() override;
  int DoRecv(void* Buffer, int Len, int Flags) override;

  virtual void TriggerSocksConnected(WORD Error);
  virtual void TriggerSocksError(int Error, const std::string& Msg);
  void TriggerSocksAuthState(TSocksAuthState State);

  // Negotiation states: 0 data (pass-through), 1 methods, 2 authenticating, 3 connecting.
  int FSocksState = 0;

 private:
  void SocksDoConnect();
  void SocksDoAuthenticate();
  // Ends the exchange with an error: OnSocksError, OnSessionConnected(Error), close.
  void SocksFail(int Error, const std::string& Msg);
  void SocksConnected();
  // Reads into the reply buffer until it holds `want` bytes; false while more are needed.
  bool ReadReply(int want);
  void ReplyMethods();
  void ReplyAuthentication();
  void ReplyConnect4();
  void ReplyConnect5();

  std::string FSocksServer;
  std::string FSocksLevel = "5";
  std::string FSocksPort;
  bool FSocksPortAssigned = false;
  bool FSocksServerAssigned = false;
  uint8_t FSocksAuthNumber = 0;
  std::string FBoundAddr;
  std::string FBoundPort;
  // Proxy replies. Reads never take more than the reply still needs, so data behind a reply
  // normally stays in the system; what does land here after a reply is handed out first.
  unsigned char FRcvBuf[512] = {};
  int FRcvCnt = 0;
  int FSocksRcvdCnt = 0;
  int FSocksRcvdPos = 0;
};

#include "net/socket/socklib.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

TEST(WinsockText, ErrorTable) {
  struct {
    int code;
    const char* text;
  } rows[] = {
      {0, "No Error"},
      {10004, "Interrupted system call"},
      {10009, "Bad file number"},
      {10013, "Permission denied"},
      {10014, "Bad address"},
      {10022, "Invalid argument"},
      {10024, "Too many open files"},
      {10035, "Operation would block"},
      {10036, "Operation now in progress"},
      {10037, "Operation already in progress"},
      {10038, "Socket operation on non-socket"},
      {10039, "Destination address required"},
      {10040, "Message too long"},
      {10041, "Protocol wrong type for socket"},
      {10042, "Protocol not available"},
      {10043, "Protocol not supported"},
      {10044, "Socket type not supported"},
      {10045, "Operation not supported on socket"},
      {10046, "Protocol family not supported"},
      {10047, "Address family not supported by protocol family"},
      {10048, "Address already in use"},
      {10049, "Address not available"},
      {10050, "Network is down"},
      {10051, "Network is unreachable"},
      {10052, "Network dropped connection on reset"},
      {10053, "Connection aborted"},
      {10054, "Connection reset by peer"},
      {10055, "No buffer space available"},
      {10056, "Socket is already connected"},
      {10057, "Socket is not connected"},
      {10058, "Can't send after socket shutdown"},
      {10059, "Too many references: can't splice"},
      {10060, "Connection timed out"},
      {10061, "Connection refused"},
      {10062, "Too many levels of symbolic links"},
      {10063, "File name too long"},
      {10064, "Host is down"},
      {10065, "No route to host"},
      {10066, "Directory not empty"},
      {10067, "Too many processes"},
      {10068, "Too many users"},
      {10069, "Disc quota exceeded"},
      {10070, "Stale NFS file handle"},
      {10071, "Too many levels of remote in path"},
      {10091, "Network sub-system is unusable"},
      {10092, "WinSock DLL cannot support this application"},
      {10093, "WinSock not initialized"},
      {11001, "Host not found"},
      {11002, "Non-authoritative host not found"},
      {11003, "Non-recoverable error"},
      {11004, "No Data"},
      {10001, "Not a WinSock error"},
      {-1, "Not a WinSock error"},
  };
  for (const auto& r : rows)
    EXPECT_EQ(WinsockErrorText(r.code), r.text) << r.code;
  EXPECT_EQ(WinsockErrorWithCode(10061), "Connection refused (#10061)");
}

TEST(WinsockText, SystemErrorWithCodeDropsTrailingPeriodAndLineEnd) {
  EXPECT_EQ(SystemErrorWithCode(126), "The specified module could not be found (#126)");
}

TEST(WinsockText, SocketAtoi) {
  struct {
    const char* text;
    int value;
  } rows[] = {{"", 0},
              {"21", 21},
              {"  80x", 80},
              {"x1", 0},
              {"-5", 0},
              {"065535", 65535},
              {"99999999999", 2147483647}};
  for (const auto& r : rows)
    EXPECT_EQ(SocketAtoi(r.text), r.value) << r.text;
}

TEST(WinsockText, IsDottedQuad) {
  struct {
    const char* text;
    bool quad;
  } rows[] = {
      {"127.0.0.1", true},
      {"255.255.255.255", true},
      {"  10.1.2.3  ", true},
      {"256.1.1.1", false},
      {"1.2.3", false},
      {"1.2.3.4.5", false},
      {".1.2.3", false},
      {"1.2.3.", false},
      {"1..2.3", false},
      {"1.2.3.4x", false},
      {"a.b.c.d", false},
      {"localhost", false},
      {"1.2.3.99999999999999999999", false},
      {"", false},
  };
  for (const auto& r : rows)
    EXPECT_EQ(IsDottedQuad(r.text), r.quad) << r.text;
}

TEST(WinsockResolve, Texts) {
  EXPECT_EQ(ResolveHostAddr("255.255.255.255"), 0xFFFFFFFFu);
  EXPECT_EQ(ResolveHostAddr(" 127.0.0.1 "), Winsock::htonl(0x7F000001));
  EXPECT_EQ(ResolveHostAddr("localhost"), Winsock::htonl(0x7F000001));
}

TEST(WinsockResolve, Failures) {
  struct {
    std::function<void()> call;
    const char* message;
  } rows[] = {
      {[] { ResolveHostAddr(""); }, "Winsock Resolve Host: '' Invalid Hostname."},
      {[] { WinsockResolvePort("", "tcp"); }, "Winsock Resolve Port: Invalid Port."},
      {[] { WinsockResolvePort(std::string(32, '1'), "tcp"); },
       "Winsock Resolve Port: Invalid Port."},
      {[] { WinsockResolvePort("65536", "tcp"); }, "Winsock Resolve Port: Invalid Port."},
      {[] { WinsockResolvePort("21", ""); }, "Winsock Resolve Port: Invalid Proto."},
      {[] { WinsockResolveProto(""); }, "Winsock Resolve Proto: Invalid Protocol."},
  };
  for (const auto& r : rows) {
    try {
      r.call();
      ADD_FAILURE() << "no exception for " << r.message;
    } catch (const ESocketException& e) {
      EXPECT_EQ(e.Message, r.message);
      EXPECT_STREQ(e.ClassName(), "ESocketException");
    }
  }
  try {
    WinsockResolvePort("nosuchservice-xyz", "tcp");
    ADD_FAILURE();
  } catch (const ESocketException& e) {
    EXPECT_EQ(
        e.Message.rfind("Winsock Resolve Port: Cannot convert port 'nosuchservice-xyz' - ", 0), 0u)
        << e.Message;
  }
}

TEST(WinsockResolve, PortsAndProtocols) {
  EXPECT_EQ(WinsockResolvePort("21abc", "tcp"), 21);
  EXPECT_EQ(WinsockResolvePort("65535", "tcp"), 65535);
  EXPECT_EQ(WinsockResolvePort("smtp", "tcp"), 25);
  EXPECT_EQ(WinsockResolveProto("TCP"), 6);
  EXPECT_EQ(WinsockResolveProto(" udp "), 17);
  EXPECT_EQ(WinsockResolveProto("raw"), 255);
  EXPECT_EQ(WinsockResolveProto("17"), 17);
  EXPECT_EQ(WinsockResolveProto("icmp"), 1);
}

TEST(WinsockResolve, LongHostNames) {
  // 256 characters are accepted (and fail in the lookup); 257 are refused outright.
  try {
    ResolveHostAddr(std::string(256, 'a'));
    ADD_FAILURE();
  } catch (const ESocketException& e) {
    EXPECT_NE(e.Message.find("Cannot convert host address"), std::string::npos) << e.Message;
  }
  try {
    ResolveHostAddr(std::string(257, 'a'));
    ADD_FAILURE();
  } catch (const ESocketException& e) {
    EXPECT_NE(e.Message.find("Invalid Hostname."), std::string::npos);
  }
}

TEST(WinsockLibrary, VersionCanChangeOnlyWhileUnloaded) {
  WinsockUnloadIfUnused();
  ASSERT_FALSE(WinsockLoaded());
  EXPECT_TRUE(SetReqVerHigh(2));
  EXPECT_EQ(ReqVerHigh(), 2);
  EXPECT_TRUE(SetReqVerHigh(1));
  Winsock::htons(1);  // any stub loads the library
  EXPECT_TRUE(WinsockLoaded());
  EXPECT_FALSE(SetReqVerHigh(2));
  EXPECT_TRUE(SetReqVerHigh(1));  // the same value is no change
  WinsockUnloadIfUnused();
  EXPECT_FALSE(WinsockLoaded());
  EXPECT_TRUE(SetReqVerHigh(2));
  EXPECT_TRUE(SetReqVerHigh(1));
}

TEST(WinsockLibrary, LocalHostName) {
  EXPECT_FALSE(WinsockLocalHostName().empty());
}

}  // namespace

// NTLM and CRAM: the published vectors (checked with openssl), the widening of CP932 text against
// the iconv program, the messages field by field, and the challenge reader on damaged input.
#include "net/mail/ntlm.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/mail/cram.h"
#include "net/mail/mime.h"
#include "rtl/cp932.h"
#include "rtl/crypto.h"
#include "tests/net/mail/tool.h"

namespace net::mail {
namespace {

using rtl::HexLower;

const TNtlmChallenge kChallenge = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values)
    s += static_cast<char>(v);
  return s;
}

uint32_t U16(const std::string& m, size_t at) {
  return static_cast<uint8_t>(m[at]) | (static_cast<uint8_t>(m[at + 1]) << 8);
}
uint32_t U32(const std::string& m, size_t at) {
  return U16(m, at) | (U16(m, at + 2) << 16);
}

// The bytes a security buffer at `at` of message m points to; fails the test when they lie
// outside m or length and maximum length differ.
std::string BufferAt(const std::string& m, size_t at) {
  const size_t length = U16(m, at), offset = U32(m, at + 4);
  EXPECT_EQ(U16(m, at + 2), length) << "maximum length at " << at;
  EXPECT_LE(offset + length, m.size()) << "buffer at " << at;
  if (offset + length > m.size()) return "";
  return m.substr(offset, length);
}

TEST(Ntlm, PublishedVectors) {
  // NT hash: MD4 of the UTF-16LE password; LM hash: "KGS!@#$%" under both upper-cased halves.
  EXPECT_EQ(HexLower(StrMD4Digest(NtlmWiden("Password"))), "a4f49c406510bdcab6824ee7c30fd852");
  const std::string magic = "KGS!@#$%";
  EXPECT_EQ(HexLower(NtlmDesEncrypt("PASSWOR", magic) +
                     NtlmDesEncrypt(std::string("D\0\0\0\0\0\0", 7), magic)),
            "e52cac67419a9a224a3b108f3fa6cb6d");
  EXPECT_EQ(HexLower(NtlmNtResponse("Password", kChallenge)),
            "67c43011f30298a2ad35ece64f16331c44bdbed927841f94");
  EXPECT_EQ(HexLower(NtlmLmResponse("Password", kChallenge)),
            "98def7b87f88aa5dafe2df779688a172def11c7d5ccdef13");
  // The LM response upper-cases and takes only 14 bytes; the NT response takes every byte.
  EXPECT_EQ(NtlmLmResponse("password", kChallenge), NtlmLmResponse("Password", kChallenge));
  EXPECT_EQ(NtlmLmResponse("abcdefghijklmnXYZ", kChallenge),
            NtlmLmResponse("ABCDEFGHIJKLMN", kChallenge));
  EXPECT_NE(NtlmNtResponse("abcdefghijklmnXYZ", kChallenge),
            NtlmNtResponse("abcdefghijklmn", kChallenge));
}

TEST(Cram, PublishedVectors) {
  // RFC 2195.
  EXPECT_EQ(MimeBase64Decode(CramAnswer(
                TCramKind::Md5, MimeBase64Encode("<1896.697170952@postoffice.reston.mci.net>"),
                "tim", "tanstaaftanstaaf")),
            "tim b913a602c7eda7a495b4e6e7334d3890");
  // RFC 2202, the cases with an 80-byte key: a key longer than the block is hashed first.
  const std::string key(80, '\xaa');
  const std::string data =
      MimeBase64Encode("Test Using Larger Than Block-Size Key - Hash Key First");
  EXPECT_EQ(MimeBase64Decode(CramAnswer(TCramKind::Md5, data, "u", key)),
            "u 6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd");
  EXPECT_EQ(MimeBase64Decode(CramAnswer(TCramKind::Sha1, data, "u", key)),
            "u aa4ae5e15272d00e95705637ce8a3b55ed402112");
}

TEST(Ntlm, WidenMatchesIconv) {
  EXPECT_EQ(NtlmWiden(""), "");
  EXPECT_EQ(NtlmWiden("NTLMSSP"), std::string("N\0T\0L\0M\0S\0S\0P\0", 14));
  // Japanese text (kanji, kana, half-width kana, 0x5C inside a character) as iconv writes it.
  const std::string text = rtl::Utf8ToCp932("管理者ユーザｱｲ表示\\~");
  bool ok = false;
  const std::string expected =
      testing::Filter("iconv", {"-f", "CP932", "-t", "UTF-16LE"}, text, ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(NtlmWiden(text), expected);
  // What does not convert (a lead byte without its trail byte) is widened byte by byte; the rest
  // still converts.
  EXPECT_EQ(NtlmWiden(rtl::Utf8ToCp932("表") + "\x81"),
            NtlmWiden(rtl::Utf8ToCp932("表")) + std::string("\x81\0", 2));
}

TEST(Ntlm, NegotiateMessage) {
  struct Case {
    const char* host;
    const char* domain;
    uint32_t flags;
    std::string hostBuffer;    // length, max, offset
    std::string domainBuffer;  // likewise
    std::string payload;
  };
  const Case cases[] = {
      {"", "", 0x8207, std::string(8, '\0'), std::string(8, '\0'), ""},
      {"ws01", "", 0xA207, Bytes({4, 0, 4, 0, 32, 0, 0, 0}), std::string(8, '\0'), "WS01"},
      {"", "corp", 0x9207, std::string(8, '\0'), Bytes({4, 0, 4, 0, 32, 0, 0, 0}), "CORP"},
      {"ws", "corp", 0xB207, Bytes({2, 0, 2, 0, 32, 0, 0, 0}), Bytes({4, 0, 4, 0, 34, 0, 0, 0}),
       "WSCORP"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.host) + "/" + c.domain);
    const std::string m = MimeBase64Decode(BuildNtlmNegotiate(c.host, c.domain));
    ASSERT_EQ(m.size(), 32 + c.payload.size());
    EXPECT_EQ(m.substr(0, 12), std::string("NTLMSSP\0\1\0\0\0", 12));
    EXPECT_EQ(U32(m, 12), c.flags);
    EXPECT_EQ(m.substr(16, 8), c.domainBuffer);
    EXPECT_EQ(m.substr(24, 8), c.hostBuffer);
    EXPECT_EQ(m.substr(32), c.payload);
  }
}

TEST(Ntlm, AuthenticateMessage) {
  const std::string m =
      MimeBase64Decode(BuildNtlmAuthenticate("", "", "User", kChallenge, "Password"));
  ASSERT_EQ(m.size(), 64u + 8 + 24 + 24);
  EXPECT_EQ(m.substr(0, 12), std::string("NTLMSSP\0\3\0\0\0", 12));
  EXPECT_EQ(U32(m, 60), 0x8205u);
  EXPECT_EQ(m.substr(52, 8), std::string(8, '\0'));  // no session key
  EXPECT_EQ(U32(m, 36 + 4), 64u);                    // the user name first
  EXPECT_EQ(BufferAt(m, 36), NtlmWiden("User"));
  EXPECT_EQ(U32(m, 12 + 4), 72u);  // the LM response right after it
  EXPECT_EQ(HexLower(BufferAt(m, 12)), "98def7b87f88aa5dafe2df779688a172def11c7d5ccdef13");
  EXPECT_EQ(U32(m, 20 + 4), 96u);
  EXPECT_EQ(HexLower(BufferAt(m, 20)), "67c43011f30298a2ad35ece64f16331c44bdbed927841f94");
  EXPECT_EQ(U16(m, 28), 0u);
  EXPECT_EQ(U16(m, 44), 0u);

  // With every name: domain, user, host, then the responses; a Japanese name in UTF-16LE.
  const std::string user = rtl::Utf8ToCp932("山田");
  const std::string full =
      MimeBase64Decode(BuildNtlmAuthenticate("Corp", "ws01", user, kChallenge, "Password"));
  EXPECT_EQ(U32(full, 28 + 4), 64u);
  EXPECT_EQ(BufferAt(full, 28), NtlmWiden("Corp"));
  EXPECT_EQ(BufferAt(full, 36), std::string("\x71\x5c\x30\x75", 4));  // U+5C71 U+7530
  EXPECT_EQ(BufferAt(full, 44), NtlmWiden("ws01"));
  EXPECT_EQ(U32(full, 12 + 4), 64u + 8 + 4 + 8);
  EXPECT_EQ(full.size(), 64u + 8 + 4 + 8 + 48);

  // A name too long for a 16-bit length is cut, never wrapped around.
  const std::string longName(40000, 'a');
  const std::string cut =
      MimeBase64Decode(BuildNtlmAuthenticate("", "", longName, kChallenge, "Password"));
  EXPECT_EQ(U16(cut, 36), 0xFFFEu);
  EXPECT_EQ(U32(cut, 12 + 4), 64u + 0xFFFE);
  EXPECT_EQ(HexLower(BufferAt(cut, 20)), "67c43011f30298a2ad35ece64f16331c44bdbed927841f94");
}

// A challenge message: header with the target name and the target information after it.
std::string ChallengeMessage(const std::string& target, const std::string& info) {
  std::string m("NTLMSSP\0\2\0\0\0", 12);
  m += Bytes({static_cast<int>(target.size()), 0, static_cast<int>(target.size()), 0, 48, 0, 0, 0});
  m += Bytes({0x05, 0x82, 0x81, 0x00});
  m += std::string(reinterpret_cast<const char*>(kChallenge.data()), 8);
  m += std::string(8, '\0');
  const int infoAt = 48 + static_cast<int>(target.size());
  m += Bytes({static_cast<int>(info.size()), 0, static_cast<int>(info.size()), 0, infoAt, 0, 0, 0});
  return m + target + info;
}

std::string Entry(int type, const std::string& value) {
  return Bytes({type, 0, static_cast<int>(value.size()), 0}) + value;
}

TEST(Ntlm, ReadsChallenges) {
  const std::string info = Entry(2, "DOM") + Entry(1, "SRV") + Entry(3, "dns") + Entry(0, "");
  const std::string good = ChallengeMessage("TGT", info);
  struct Case {
    const char* what;
    std::string text;  // Base64
    bool valid;
    std::u16string target, domain, server;
    TNtlmChallenge challenge;
  };
  std::string pastEnd = good;
  pastEnd[44] = '\xff';  // the information offset far past the end
  std::string longEntry =
      ChallengeMessage("TGT", Entry(1, "SRV") + Bytes({2, 0, 0xff, 0x7f}) + "DO");
  const Case cases[] = {
      {"well formed", MimeBase64Encode(good), true, u"TGT", u"DOM", u"SRV", kChallenge},
      {"entries after the end entry are not read",
       MimeBase64Encode(ChallengeMessage("", Entry(0, "") + Entry(1, "X"))), true, u"", u"", u"",
       kChallenge},
      {"no end entry: up to the end of the message",
       MimeBase64Encode(ChallengeMessage("", Entry(1, "SRV"))), true, u"", u"", u"SRV", kChallenge},
      {"cut inside the challenge",
       MimeBase64Encode(good.substr(0, 28)),
       true,
       u"",
       u"",
       u"",
       {0x01, 0x23, 0x45, 0x67, 0, 0, 0, 0}},
      {"information offset past the end", MimeBase64Encode(pastEnd), true, u"TGT", u"", u"",
       kChallenge},
      {"entry length past the end", MimeBase64Encode(longEntry), true, u"TGT", u"DO", u"SRV",
       kChallenge},
      {"one byte", MimeBase64Encode("N"), true, u"", u"", u"", {}},
      {"signature and type unchecked", MimeBase64Encode("XXXXXXXX" + good.substr(8)), true, u"TGT",
       u"DOM", u"SRV", kChallenge},
      {"empty text", "", false, u"", u"", u"", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const TNTLM_Msg2_Info got = ParseNtlmChallenge(c.text);
    EXPECT_EQ(got.Valid, c.valid);
    EXPECT_TRUE(got.Target == c.target);
    EXPECT_TRUE(got.Domain == c.domain);
    EXPECT_TRUE(got.Server == c.server);
    EXPECT_EQ(got.Challenge, c.challenge);
  }
}

}  // namespace
}  // namespace net::mail

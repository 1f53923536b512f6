// Fuzz target for the NTLM challenge reader. The input is a challenge message, read both as the
// Base64 of those bytes and as Base64 text itself. The reader stays inside its input (the
// sanitizers see any read outside it), takes the challenge from bytes 24..31 (zero past the end),
// and an answer built from what it read has the size its fields give.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "net/mail/mime.h"
#include "net/mail/ntlm.h"

namespace {

using namespace net::mail;

[[noreturn]] void Broken(const char* what) {
  std::fprintf(stderr, "ntlm_fuzz: %s\n", what);
  std::abort();
}

void Check(const std::string& message, const TNTLM_Msg2_Info& info) {
  if (!info.Valid) Broken("a message read as invalid");
  for (size_t i = 0; i < info.Challenge.size(); ++i) {
    const uint8_t expected = 24 + i < message.size() ? static_cast<uint8_t>(message[24 + i]) : 0;
    if (info.Challenge[i] != expected) Broken("the challenge is not bytes 24..31");
  }
  // Names come from the message: never longer than it (a CP932 byte widens to one unit at most).
  if (info.Target.size() > message.size() || info.Domain.size() > message.size() ||
      info.Server.size() > message.size())
    Broken("a name longer than the message");
  const std::string user(info.Server.size() % 40, 'u');
  const std::string answer =
      MimeBase64Decode(BuildNtlmAuthenticate("", "", user, info.Challenge, message.substr(0, 20)));
  if (answer.size() != 64 + 2 * user.size() + 48) Broken("an answer of the wrong size");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  if (!bytes.empty()) Check(bytes, ParseNtlmChallenge(MimeBase64Encode(bytes)));
  const TNTLM_Msg2_Info asText = ParseNtlmChallenge(bytes);
  if (asText.Valid != !bytes.empty()) Broken("validity is not the text's emptiness");
  if (!bytes.empty()) Check(MimeBase64Decode(bytes), asText);
  return 0;
}

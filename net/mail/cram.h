// The answer to a CRAM-MD5 or CRAM-SHA1 challenge, shared by the SMTP and POP3 logins. A pure
// function on byte strings, safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace net::mail {

enum class TCramKind { Md5, Sha1 };

// The Base64 text of user + " " + the lower-case hex HMAC (MD5: 32 digits, SHA-1: 40) of the
// challenge keyed by password (a key longer than 64 bytes is hashed first, as HMAC says). The
// challenge is the Base64 text challengeBase64, decoded as MimeBase64Decode does.
std::string CramAnswer(TCramKind kind, std::string_view challengeBase64, std::string_view user,
                       std::string_view password);

}  // namespace net::mail

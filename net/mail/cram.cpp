#include "net/mail/cram.h"

#include "net/mail/mime.h"
#include "rtl/crypto.h"

namespace net::mail {

std::string CramAnswer(TCramKind kind, std::string_view challengeBase64, std::string_view user,
                       std::string_view password) {
  const std::string challenge = MimeBase64Decode(challengeBase64);
  const std::string mac = kind == TCramKind::Md5 ? rtl::HmacMd5(password, challenge)
                                                 : rtl::HmacSha1(password, challenge);
  std::string answer(user);
  answer += " " + rtl::HexLower(mac);
  return MimeBase64Encode(answer);
}

}  // namespace net::mail

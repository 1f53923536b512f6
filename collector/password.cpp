#include "collector/password.h"

#include "net/mail/base64.h"
#include "settings/blowfish.h"
#include "settings/sha1.h"

std::string EncryptSetting(std::string_view Value, std::string_view Passphrase) {
  if (Value.empty()) return std::string();
  try {
    // A new object each time, so every value starts from the initial vector.
    TKc_blowfish cipher;
    cipher.InitFromString(Passphrase, TKc_sha1::Class);
    std::string inner = cipher.EncryptText(Value);
    cipher.Wipe();
    return net::mail::Base64Encode(inner);
  } catch (...) {
    return std::string();
  }
}

std::string DecryptSetting(std::string_view Value, std::string_view Passphrase) {
  if (Value.empty()) return std::string();
  try {
    TKc_blowfish cipher;
    cipher.InitFromString(Passphrase, TKc_sha1::Class);
    std::string inner = net::mail::Base64Decode(Value);
    std::string plain = cipher.DecryptText(inner);
    cipher.Wipe();
    return plain;
  } catch (...) {
    return std::string();
  }
}

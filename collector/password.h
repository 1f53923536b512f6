// The stored form of the POP3 password in the settings file: Blowfish keyed by the SHA-1 of a
// passphrase, 8-bit CFB from the initial vector E(eight zero bytes), Base64 of the cipher bytes,
// and Base64 of that text again. Console and service must read what the other wrote, so every
// step is fixed. Both functions make their own cipher object and are safe from any thread.
#pragma once

#include <string>
#include <string_view>

// The passphrase both programs use.
inline constexpr char kSettingPassphrase[] = "MvQk";

// The stored text of Value (its bytes as they are: Shift-JIS, control bytes). Empty for an empty
// Value. Never raises: any failure gives an empty result.
std::string EncryptSetting(std::string_view Value, std::string_view Passphrase);

// The plain value of stored text. Empty for an empty Value. Never raises: any failure (stored
// text whose length is not a multiple of 4, for one) gives an empty result. Text that is Base64
// twice but was made otherwise deciphers to other bytes without an error.
std::string DecryptSetting(std::string_view Value, std::string_view Passphrase);

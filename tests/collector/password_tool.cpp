// Stores or reads one password the way the programs do, in a process of its own.
//   collector_password_tool encrypt <password as hex>   prints the stored text
//   collector_password_tool decrypt <stored text>       prints the password as hex
#include <cstdio>
#include <cstring>
#include <string>

#include "collector/password.h"
#include "rtl/crypto.h"

namespace {

std::string FromHex(const char* hex) {
  std::string r;
  for (size_t i = 0; hex[i] && hex[i + 1]; i += 2)
    r += static_cast<char>(std::stoi(std::string(hex + i, 2), nullptr, 16));
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  std::string out;
  if (std::strcmp(argv[1], "encrypt") == 0)
    out = EncryptSetting(FromHex(argv[2]), kSettingPassphrase);
  else if (std::strcmp(argv[1], "decrypt") == 0)
    out = rtl::HexLower(DecryptSetting(argv[2], kSettingPassphrase));
  else
    return 2;
  std::printf("%s\n", out.c_str());
  return 0;
}

// Saves one value into a settings file the way the programs do and reports the outcome.
//   settings_save_tool <file> <value length>
// Writes "MailEnv"/"Body" with a value of that many "x" (UpdateAtOnce). Prints "saved" and exits
// with 0, or prints the exception's class name and message and exits with 3.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "rtl/exception.h"
#include "settings/inifilecompo.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  try {
    TIniFileCompo ini;
    ini.AutoUpdate = false;
    ini.SetDefaultFolder(dfUser);
    ini.UpdateAtOnce = true;
    ini.SetFileName(argv[1]);
    ini.WriteString("MailEnv", "Body", std::string(std::strtoul(argv[2], nullptr, 10), 'x'));
    std::printf("saved\n");
    return 0;
  } catch (const rtl::Exception& e) {
    std::printf("%s : %s\n", e.ClassName(), e.Message.c_str());
    return 3;
  }
}

// Japanese texts of the service framework, as CP932 bytes. Written in UTF-8 in messages.cpp,
// which is compiled with -fexec-charset=CP932 (kelvadon_messages). "%0:s" and "%1:s" are filled
// by FormatIndexed.
#pragma once

namespace svcmsg {

extern const char kInstalled[];        // the service was registered
extern const char kUninstalled[];      // the registration was removed
extern const char kInstallFailed[];    // %0 display name, %1 error text
extern const char kUninstallFailed[];  // %0 display name, %1 error text
extern const char kServiceFailed[];    // %0 the stage, %1 the error text
extern const char kStageStart[];
extern const char kStageExecute[];

}  // namespace svcmsg

// What the library's own files share and do not export: the machine-name test, the length of a
// self-relative descriptor and the token's privilege state. Safe from any thread.
#pragma once

#include <cstddef>

#include "platform/win/win.h"

namespace advapi {

// True for a machine name that means this computer: null, empty, ".", "localhost", "127.0.0.1" or
// the computer name, with or without a leading "\\".
bool IsLocalMachine(const char* machine);

// The length of a self-relative security descriptor, from its header and the sizes its parts
// declare (a SID's count, an ACL's size); 0 when it is not one (revision 1, SE_SELF_RELATIVE) or a
// part lies past the protocol's descriptor limit.
size_t SelfRelativeLength(const void* sd);

// Whether the process token holds the privilege and it is enabled.
bool PrivilegeEnabled(const char* name);

}  // namespace advapi

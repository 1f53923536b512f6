// Login support for the FTP server and the applications that check its credentials. Plain
// functions, safe from any thread.
#pragma once

#include <string_view>

// True when a and b hold the same bytes. The time taken depends only on the lengths, not on where
// the texts differ, so an attacker cannot find a password byte by byte by timing the refusals.
bool FtpSameSecret(std::string_view a, std::string_view b);

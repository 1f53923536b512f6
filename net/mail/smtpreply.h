// Reading the code of an SMTP reply line. A pure function, safe from any thread.
#pragma once

#include <string_view>

// The code of one reply line and whether more lines of the same reply follow.
struct TSmtpReplyCode {
  int Code = 0;
  bool Continued = false;
};

// Skips blanks, TABs, CRs and LFs, an optional "+" or "-", then reads decimal digits (saturating:
// a long run of digits never overflows). The byte right after the digits decides: "-" marks a
// continuation line of a multi-line reply, anything else the last line. A line without digits,
// and a code outside 1..65535, gives kSmtpNoReplyCode (20600), so that no failure can ever be
// taken for 0 by whoever keeps the code in 16 bits.
TSmtpReplyCode ReadSmtpReplyCode(std::string_view line);

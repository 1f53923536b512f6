// Reading POP3 replies and answering the server's authentication challenges: the positive-reply
// test, the number readers of STAT, LIST, UIDL and LAST replies, the APOP timestamp of a greeting,
// and the APOP and CRAM digests. Pure functions on byte strings, safe from any thread; none reads
// outside its input.
#pragma once

#include <string>
#include <string_view>

#include "net/mail/cram.h"

namespace net::mail {

// True when the reply is positive: not empty and starting with "+".
bool Pop3Positive(std::string_view reply);

// Reads a decimal number from the start of text: TAB, LF, CR and blanks are skipped, then digits
// are read up to the first other byte. No digit gives 0; a number above 2147483647 gives
// 2147483647.
int Pop3ReadNumber(std::string_view text);

// The two numbers of a STAT, LIST or LAST reply ("+OK 2 320", "1 120"): skips to the first digit,
// reads that number, skips TAB, LF, CR and blanks and reads the second number from there. When
// there is no digit at all, or nothing follows the first number, both are 0 and the result is
// false. Numbers saturate as Pop3ReadNumber's do.
bool Pop3TwoNumbers(std::string_view text, int& first, int& second);

// The number and unique id of a UIDL reply ("+OK 1 whqtswO00WBw418f9t5JxYwZ", "2
// QhdPYR:00WBw1Ph7x7"): skips to the first digit (none: number 0, id empty, false), reads the
// number, skips its digits and then blanks, and takes the bytes "!" to "~" that follow as the id.
bool Pop3NumberAndId(std::string_view text, int& number, std::string& id);

// The APOP timestamp of a greeting: the text from its first "<" through the first ">" after it,
// brackets included; empty when there is no such pair.
std::string Pop3GreetingTimestamp(std::string_view greeting);

// The APOP digest: 32 lower-case hex digits of MD5(timestamp + password).
std::string Pop3ApopDigest(std::string_view timestamp, std::string_view password);

// The answer line to a CRAM-MD5 or CRAM-SHA1 challenge. challengeReply is the server's whole
// "+ ..." reply; the challenge is the Base64 text from its third byte on. The answer is the Base64
// text of user + " " + the lower-case hex HMAC (MD5: 32 digits, SHA-1: 40) of the challenge keyed
// by password. REQUIRES: challengeReply is longer than 2 bytes.
using TPop3Cram = TCramKind;
std::string Pop3CramAnswer(TPop3Cram kind, std::string_view challengeReply, std::string_view user,
                           std::string_view password);

}  // namespace net::mail

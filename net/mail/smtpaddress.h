// Address texts of the SMTP client: splitting "Name <address>" texts, the recipient-list scanner
// of AddRecipients, the name sent with HELO and EHLO, and the checks and escapes that keep
// owner-supplied text from breaking a command or header line. Pure functions on CP932 byte strings,
// safe from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Splits text into a display name and an address (both cleared first):
// - leading blanks are skipped;
// - a name in double or single quotes runs to the same quote character; the address is then what
//   stands between the next "<" and the following ">" when text holds a "<", else the trimmed rest;
// - else, when text holds a "<", the name is the trimmed text before it and the address what stands
//   between it and the next ">";
// - else the name is the text up to the first blank and the address the trimmed rest after it.
// An empty address with a name holding "@" takes the name as the address (and the name is
// cleared), so a bare address yields itself.
void ParseAddress(std::string_view text, std::string& DisplayName, std::string& Address);

// The items of a list of addresses: an item runs to the next "," or ";" outside double quotes;
// leading blanks are skipped, items are trimmed, and empty ones are dropped.
std::vector<std::string> SplitAddressList(std::string_view text);

// The name to greet with: SignOn, or localHostName when SignOn is empty, every blank made "_".
std::string SmtpHeloName(std::string_view SignOn, std::string_view localHostName);

// True when text holds a CR, an LF or a zero byte, any of which would end or corrupt the command
// line it is put into.
bool HasLineBreakOrNul(std::string_view text);

// text with every CR and LF made a blank, so that a header value stays on its own line.
std::string BlankLineBreaks(std::string_view text);

// text in double quotes, with "\" put before every double quote and backslash in it, and every CR
// and LF made a blank.
std::string QuotedHeaderText(std::string_view text);

// The alert rules: the comma lists of the settings ("Word1".."Word5", "ToMail") and the test of a
// record against a rule. Pure functions on byte strings (Shift-JIS text); safe from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class TIniFileCompo;

namespace collector {

// The items of a comma list. Bytes 0x00-0x20 before an item are skipped; an item is either a
// double-quoted text (two double quotes stand for one; without a closing quote it runs to the
// end) or the run up to the next byte 0x00-0x20 or comma; blanks and control bytes after an item
// are skipped, then one comma. A comma that is the last byte adds an empty item, and so do two
// commas in a row. Shift-JIS characters are stepped whole (a trail byte is never a separator), a
// lead byte that is the last byte counts as one character. Every step moves on and stays inside
// text, whatever its bytes.
std::vector<std::string> CommaList(std::string_view text);

// Whether a rule of terms fires for record: every term occurs in it (byte-wise, letter case
// counts). An empty term never occurs, and a rule without terms never fires.
bool RuleFires(std::string_view record, const std::vector<std::string>& terms);

// The values of "Word1".."Word5" (as stored, the whole comma list), in that order, of the rules
// that fire for record; only the first count of them are tried (at most five). An empty value is
// no rule.
std::vector<std::string> FiredRules(const TIniFileCompo& ini, std::string_view record,
                                    int count = 5);

}  // namespace collector

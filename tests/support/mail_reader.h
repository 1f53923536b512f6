// What Python's email package (Debian's /usr/bin/python3, policy.default) reads from a message the
// SMTP client made: header values and their addresses, the parsed Date, the Message-ID, the header
// order, the defects found, and every part with its type, file name and decoded bytes. Runs
// Python as a child process on a file in a temporary folder.
#pragma once

#include <map>
#include <string>

namespace testsupport {

// Keys, each present only when Python found the item (texts UTF-8):
//   "<Header>" for From, To, Cc, Sender, Reply-To, Subject, Date, Message-ID, X-Priority ...:
//       the decoded value; "<Header>.<i>.name" and "<Header>.<i>.addr" for each address of the
//       address headers; "Date.offset" (minutes east of UTC) and "Date.utc" (ISO text);
//   "headers": the header names in order, joined by ",";
//   "defects": the names of the defects Python noted, joined by "," ("" when none);
//   "type": the message's content type; "parts": the number of leaf parts;
//   "part.<i>.type", "part.<i>.cte", "part.<i>.filename", "part.<i>.bytes" (decoded payload),
//   "part.<i>.text" (text parts: the payload decoded in its charset), or "part.<i>.texterror"
//   (why it does not decode).
struct Inspected {
  bool ok = false;
  std::string error;
  std::map<std::string, std::string> items;
  // The item or "" when absent.
  std::string operator[](const std::string& key) const;
  bool Has(const std::string& key) const { return items.count(key) != 0; }
};

Inspected InspectWithPython(const std::string& message);

}  // namespace testsupport

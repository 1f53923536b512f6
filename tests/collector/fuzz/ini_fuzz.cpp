// Fuzz target for the settings parser (TMemIniFile), which reads the collector's KelvadonMan.ini.
// Any text loads; written back and loaded again it gives the same text; every key a section lists
// reads back and exists; number reading never overflows; a value written in memory reads back
// with its line breaks blanked. Sanitizers catch any read outside the text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include "settings/memini.h"

namespace {

[[noreturn]] void Broken(const char* what) {
  std::fprintf(stderr, "ini_fuzz: %s\n", what);
  std::abort();
}

// Section names as Text() writes them: one "[" name "]" line per section.
std::vector<std::string> Sections(const std::string& text) {
  std::vector<std::string> names;
  size_t pos = 0;
  bool atSection = true;  // the first line, and the line after each empty one, open a section
  while (pos < text.size()) {
    const size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) Broken("Text() line without CR LF");
    const std::string line = text.substr(pos, end - pos);
    if (atSection) {
      if (line.size() < 2 || line.front() != '[' || line.back() != ']') Broken("no section line");
      names.push_back(line.substr(1, line.size() - 2));
    }
    atSection = line.empty();
    pos = end + 2;
  }
  return names;
}

std::string NoLineBreaks(std::string s) {
  for (char& c : s)
    if (c == '\r' || c == '\n') c = ' ';
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const bool caseSensitive = in.ConsumeBool();
  const std::string section = in.ConsumeRandomLengthString(16);
  const std::string ident = in.ConsumeRandomLengthString(16);
  const std::string value = in.ConsumeRandomLengthString(32);
  const std::string text = in.ConsumeRemainingBytesAsString();

  TMemIniFile ini("");  // names no file: loads empty
  ini.SetCaseSensitive(caseSensitive);
  ini.SetText(text);
  const std::string once = ini.Text();

  TMemIniFile again("");
  again.SetCaseSensitive(caseSensitive);
  again.SetText(once);
  if (again.Text() != once) Broken("written and loaded again, the text changed");

  for (const std::string& s : Sections(once)) {
    if (!ini.SectionExists(s)) Broken("a written section does not exist");
    for (const std::string& key : ini.ReadSection(s)) {
      if (!ini.ValueExists(s, key)) Broken("a listed key does not exist");
      // "\x01" cannot be a value: values are trimmed of bytes up to 0x20.
      if (ini.ReadString(s, key, "\x01") == "\x01") Broken("a listed key has no value");
      ini.ReadInteger(s, key, 0);
    }
  }

  ini.WriteString(section, ident, value);
  const std::string s = NoLineBreaks(section), k = NoLineBreaks(ident);
  if (!ini.ValueExists(s, k)) Broken("a written key does not exist");
  if (ini.ReadString(s, k, "") != NoLineBreaks(value)) Broken("a written value reads otherwise");
  ini.DeleteKey(s, k);
  ini.Text();
  return 0;
}

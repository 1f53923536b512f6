#include "settings/memini.h"

#include <cerrno>
#include <limits>
#include <utility>

#include "rtl/cp932.h"
#include "rtl/exception.h"
#include "rtl/files.h"
#include "rtl/fs.h"

namespace {

std::string NoLineBreaks(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c == '\r' || c == '\n') c = ' ';
  return r;
}

// The settings file's failures: "Cannot open file" or "Cannot create file", the name, and the
// system's text for err.
[[noreturn]] void RaiseFileError(const char* what, const std::string& fileName, int err) {
  throw rtl::EInOutError(std::string(what) + " \"" + fileName + "\". " + rtl::fs::ErrorText(err),
                         err);
}

}  // namespace

TMemIniFile::TMemIniFile(std::string fileName) {
  Rename(std::move(fileName), true);
}

void TMemIniFile::Rename(std::string fileName, bool reload) {
  fileName_ = std::move(fileName);
  if (reload) Load();
}

void TMemIniFile::Load() {
  sections_.clear();
  std::string text;
  // A file that does not exist (or a path through something that is no folder) reads as empty.
  const int err = rtl::ReadWholeFile(fileName_, text);
  if (err != 0 && err != ENOENT && err != ENOTDIR)
    RaiseFileError("Cannot open file", fileName_, err);
  SetText(text);
}

void TMemIniFile::SetText(std::string_view text) {
  sections_.clear();
  Section* current = nullptr;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    std::string line = rtl::Trim(text.substr(pos, end - pos));
    pos = end;
    if (pos < text.size()) pos += text.compare(pos, 2, "\r\n") == 0 ? 2 : 1;

    if (line.empty() || line[0] == ';') continue;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      std::string name = rtl::Trim(std::string_view(line).substr(1, line.size() - 2));
      current = FindSection(name);
      if (!current) {
        sections_.push_back(Section{std::move(name), {}});
        current = &sections_.back();
      }
      continue;
    }
    if (!current) continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos)
      current->lines.push_back(Line{false, std::move(line), {}});
    else
      current->lines.push_back(Line{true, rtl::Trim(std::string_view(line).substr(0, eq)),
                                    rtl::Trim(std::string_view(line).substr(eq + 1))});
  }
}

std::string TMemIniFile::Text() const {
  std::string r;
  for (const Section& s : sections_) {
    r += "[" + s.name + "]\r\n";
    for (const Line& l : s.lines) {
      r += l.name;
      if (l.isKey) r += "=" + l.value;
      r += "\r\n";
    }
    r += "\r\n";
  }
  return r;
}

void TMemIniFile::UpdateFile() const {
  int err = rtl::WriteFileAtomic(fileName_, Text(), kFileMode);
  if (err != 0) RaiseFileError("Cannot create file", fileName_, err);
}

bool TMemIniFile::Same(std::string_view a, std::string_view b) const {
  return caseSensitive_ ? a == b : rtl::SameText(a, b);
}

const TMemIniFile::Section* TMemIniFile::FindSection(std::string_view name) const {
  for (const Section& s : sections_)
    if (Same(s.name, name)) return &s;
  return nullptr;
}

TMemIniFile::Section* TMemIniFile::FindSection(std::string_view name) {
  return const_cast<Section*>(std::as_const(*this).FindSection(name));
}

const TMemIniFile::Line* TMemIniFile::FindKey(std::string_view section,
                                              std::string_view ident) const {
  const Section* s = FindSection(section);
  if (!s) return nullptr;
  for (const Line& l : s->lines)
    if (l.isKey && Same(l.name, ident)) return &l;
  return nullptr;
}

std::string TMemIniFile::ReadString(std::string_view section, std::string_view ident,
                                    std::string_view def) const {
  const Line* l = FindKey(section, ident);
  return l ? l->value : std::string(def);
}

long TMemIniFile::ReadInteger(std::string_view section, std::string_view ident, long def) const {
  const Line* l = FindKey(section, ident);
  if (!l) return def;
  std::string t = rtl::Trim(l->value);
  size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  if (i == t.size()) return def;
  long v = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return def;
    int d = t[i] - '0';
    if (v > (std::numeric_limits<long>::max() - d) / 10) return def;  // out of range
    v = v * 10 + d;
  }
  return negative ? -v : v;
}

void TMemIniFile::WriteString(std::string_view section, std::string_view ident,
                              std::string_view value) {
  std::string sectionName = NoLineBreaks(section);
  std::string name = NoLineBreaks(ident);
  Section* s = FindSection(sectionName);
  if (!s) {
    sections_.push_back(Section{std::move(sectionName), {}});
    s = &sections_.back();
  }
  for (Line& l : s->lines)
    if (l.isKey && Same(l.name, name)) {
      l = Line{true, std::move(name), NoLineBreaks(value)};
      return;
    }
  s->lines.push_back(Line{true, std::move(name), NoLineBreaks(value)});
}

bool TMemIniFile::ValueExists(std::string_view section, std::string_view ident) const {
  return FindKey(section, ident) != nullptr;
}

bool TMemIniFile::SectionExists(std::string_view section) const {
  return FindSection(section) != nullptr;
}

void TMemIniFile::DeleteKey(std::string_view section, std::string_view ident) {
  Section* s = FindSection(section);
  if (!s) return;
  for (auto it = s->lines.begin(); it != s->lines.end(); ++it)
    if (it->isKey && Same(it->name, ident)) {
      s->lines.erase(it);
      return;
    }
}

std::vector<std::string> TMemIniFile::ReadSection(std::string_view section) const {
  std::vector<std::string> names;
  if (const Section* s = FindSection(section))
    for (const Line& l : s->lines)
      if (l.isKey) names.push_back(l.name);
  return names;
}

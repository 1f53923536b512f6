// An ini-format file held in memory: loaded whole from its file, read and changed in memory, and
// written back whole on request. Texts are 8-bit (Shift-JIS) bytes; section and key names compare
// with ASCII letters folded unless CaseSensitive is set (a Shift-JIS trail byte is never folded).
// An object belongs to one thread; nothing here locks.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The file format:
// - Loading splits the file into lines at CR LF, LF or CR and trims each line of bytes 0x00-0x20
//   on both sides. Empty lines and lines starting with ";" are dropped. "[" name "]" starts a
//   section (name trimmed); a section named again continues the first one. Lines before the
//   first section are dropped. A line holding "=" is a key: the name is the trimmed text before
//   the first "=", the value the trimmed text after it. Any other line is kept in its section as
//   it stands and written back unchanged.
// - Writing gives every section in order of creation as "[" name "]", its lines in order, then
//   one empty line; every line ends in CR LF.
class TMemIniFile {
 public:
  // Makes the ini for fileName and loads it (see Rename).
  explicit TMemIniFile(std::string fileName);
  TMemIniFile(const TMemIniFile&) = delete;
  TMemIniFile& operator=(const TMemIniFile&) = delete;

  const std::string& FileName() const { return fileName_; }

  // Names the ini's file. With reload, the contents are replaced by that file's: a file that
  // does not exist gives an empty ini. Raises rtl::EInOutError when the file exists but cannot
  // be read (the ini is then empty).
  void Rename(std::string fileName, bool reload);

  bool CaseSensitive() const { return caseSensitive_; }
  // Switches the comparison of section and key names for every later call.
  void SetCaseSensitive(bool value) { caseSensitive_ = value; }

  // The value of the key when section holds it (an empty value is returned as empty), else def.
  std::string ReadString(std::string_view section, std::string_view ident,
                         std::string_view def) const;
  // The key's value as a decimal integer (optional sign, blanks around it allowed); def when the
  // key is missing or its value is no such number.
  long ReadInteger(std::string_view section, std::string_view ident, long def) const;
  // Sets the key's value: the first line of that name is replaced, else a line is appended to
  // the section, which is appended to the ini when missing. Line breaks would split the line
  // when the file is read again, so every CR and LF in section, ident and value becomes a blank.
  void WriteString(std::string_view section, std::string_view ident, std::string_view value);
  // True when section holds the key.
  bool ValueExists(std::string_view section, std::string_view ident) const;
  bool SectionExists(std::string_view section) const;
  // Removes the first key of that name from section; nothing when there is none.
  void DeleteKey(std::string_view section, std::string_view ident);
  // The names of section's keys in order (empty when section is missing).
  std::vector<std::string> ReadSection(std::string_view section) const;
  void Clear() { sections_.clear(); }

  // The file image as Writing describes it.
  std::string Text() const;
  // Replaces the contents with what loading text gives.
  void SetText(std::string_view text);

  // The permission bits the file may have: its owner's and its group's (under a setgid program
  // folder, the folder's group), never other users'. A settings file holds passwords enciphered
  // with a key every copy of the programs knows.
  static constexpr unsigned kFileMode = 0660;

  // Writes Text() to FileName() with rtl::WriteFileAtomic: the file holds either its old or its
  // new contents whole. A new file gets kFileMode less the umask; an existing one keeps its
  // permission bits but those beyond kFileMode. Raises rtl::EInOutError (with errno) on failure.
  void UpdateFile() const;

 private:
  struct Line {
    bool isKey;
    std::string name;  // the key's name, or the whole line when it is no key
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Line> lines;
  };

  bool Same(std::string_view a, std::string_view b) const;
  const Section* FindSection(std::string_view name) const;
  Section* FindSection(std::string_view name);
  const Line* FindKey(std::string_view section, std::string_view ident) const;
  void Load();

  std::string fileName_;
  bool caseSensitive_ = false;
  std::vector<Section> sections_;
};

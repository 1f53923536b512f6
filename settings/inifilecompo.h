// The settings-file component: keeps one ini-format settings file in memory (TMemIniFile),
// loaded whole when its path is set, answering reads from memory and writing the whole file back
// on request, after every change (UpdateAtOnce) or when it is destroyed (AutoUpdate). Saves
// replace the file atomically and keep its permission bits, but never leave it to other users than
// its owner and group (TMemIniFile::kFileMode). Owned like any component; used by the thread that
// owns it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "rtl/classes.h"
#include "settings/memini.h"

// Base folders of the settings file. On this system:
// - dfAppData: the user's data folder ($XDG_DATA_HOME when it is an absolute path, else
//   $HOME/.local/share; the application folder when neither is set) plus a sub-folder named
//   after the program;
// - dfApplication: the folder of the running program;
// - dfUser: none, so FileName is the whole path (absolute, or relative to the current folder);
// - dfWindows: the system's configuration folder, /etc.
enum TDefaultFolder { dfAppData, dfApplication, dfUser, dfWindows };

class TIniFileCompo : public rtl::TComponent {
 public:
  // Starts in the application folder with the default name (the program's file name without
  // its extension, plus ".ini"), AutoUpdate true, UpdateAtOnce false, CaseSensitive false, and
  // loads that file when it exists. Raises rtl::EInOutError when it exists but cannot be read.
  explicit TIniFileCompo(rtl::TComponent* Owner = nullptr);
  // Writes the file when AutoUpdate is true. A destructor cannot report: a failing write is
  // dropped here, so code that must know calls UpdateFile first.
  ~TIniFileCompo() override;

  // Write the file when the component is destroyed.
  bool AutoUpdate = true;
  // Write the file after every change (WriteString, EraseEntry).
  bool UpdateAtOnce = false;
  // Fired after the file was (re)loaded and after it was written by UpdateFile.
  TNotifyEvent OnLoad;
  TNotifyEvent OnUpdate;

  bool CaseSensitive() const { return ini_->CaseSensitive(); }
  // Switches the comparison of section and key names.
  void SetCaseSensitive(bool value);

  TDefaultFolder DefaultFolder() const { return defaultFolder_; }
  // Moves the file to the base folder value: the path becomes that folder plus the file-name
  // part of the current path; a missing folder is created with its parents (a folder that
  // cannot be made shows at the next save). Then the file there is loaded (none: empty) and
  // OnLoad fires. Raises rtl::EInOutError when the file exists but cannot be read.
  void SetDefaultFolder(TDefaultFolder value);

  const std::string& FileName() const { return fileName_; }
  // Sets the file name (empty: the default name); the path becomes the base folder plus it, and
  // that file is loaded (none: empty) before OnLoad fires. Creates no folder. Raises
  // rtl::EInOutError when the file exists but cannot be read.
  void SetFileName(std::string value);

  // The file the component reads and writes.
  const std::string& Path() const { return path_; }

  // The key's value when section holds it (an empty value is returned as empty), else Default.
  // Never touches the disk.
  std::string ReadString(std::string_view Section, std::string_view Ident,
                         std::string_view Default) const;
  // Sets the key in memory, then writes the file when UpdateAtOnce is true (raising as
  // UpdateFile does; the value stays set in memory).
  void WriteString(std::string_view Section, std::string_view Ident, std::string_view Value);
  bool ValueExists(std::string_view Section, std::string_view Ident) const;
  // Writes the whole file to Path(), then fires OnUpdate. Raises rtl::EInOutError when the file
  // cannot be written; the old file is then left whole.
  void UpdateFile();
  // Deletes the key and, by its value, the keys of its typed sub-entries: "FORM" the form
  // keys (Ident + ".flags", ".show", ...), "RECT" and "BOUNDS" the rectangle keys, "LIST" the
  // keys Ident + ".count" and Ident + "." + i for i below that count; then writes the file when
  // UpdateAtOnce is true.
  void EraseEntry(std::string_view Section, std::string_view Ident);

  // The in-memory ini (borrowed for the component's life).
  TMemIniFile& IniFile() { return *ini_; }

 protected:
  virtual void DoUpdate();
  virtual void DoLoad();
  void SaveIfAtOnce();

 private:
  // The folder of the base folder value, with a trailing "/" (empty for dfUser).
  std::string FolderOf(TDefaultFolder value) const;
  void Reload();

  std::string appFolder_;    // folder of the running program, with "/"
  std::string baseName_;     // program file name without extension, plus "/"
  std::string defaultName_;  // program file name without extension, plus ".ini"
  std::string folder_;
  std::string fileName_;
  std::string path_;
  TDefaultFolder defaultFolder_ = dfApplication;
  std::unique_ptr<TMemIniFile> ini_;
};

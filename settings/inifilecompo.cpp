#include "settings/inifilecompo.h"

#include <cstdlib>

#include "rtl/cp932.h"
#include "rtl/files.h"

namespace {

// The user's data folder with a trailing "/", or empty when the environment names none.
std::string UserDataFolder() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && xdg[0] == '/') return rtl::IncludeTrailingPathDelimiter(xdg);
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return rtl::IncludeTrailingPathDelimiter(home) + ".local/share/";
  return std::string();
}

}  // namespace

TIniFileCompo::TIniFileCompo(rtl::TComponent* Owner) : rtl::TComponent(Owner) {
  const std::string program = rtl::ProgramFileName();
  appFolder_ = rtl::ProgramDir();  // the program's folder (or the tests' stand-in for it)
  const std::string base = rtl::ChangeFileExt(rtl::ExtractFileName(program), "");
  defaultName_ = base + ".ini";
  baseName_ = base + "/";
  folder_ = appFolder_;
  defaultFolder_ = dfApplication;
  path_ = folder_ + defaultName_;
  ini_ = std::make_unique<TMemIniFile>(path_);
  ini_->SetCaseSensitive(false);
}

TIniFileCompo::~TIniFileCompo() {
  if (AutoUpdate) {
    try {
      ini_->UpdateFile();
    } catch (const std::exception&) {
      // Nowhere to report it from a destructor; see the header.
    }
  }
}

void TIniFileCompo::SetCaseSensitive(bool value) {
  ini_->SetCaseSensitive(value);
}

std::string TIniFileCompo::FolderOf(TDefaultFolder value) const {
  switch (value) {
    case dfAppData: {
      std::string data = UserDataFolder();
      return (data.empty() ? appFolder_ : data) + baseName_;
    }
    case dfApplication:
      return appFolder_;
    case dfUser:
      return std::string();
    case dfWindows:
      return "/etc/";
  }
  return appFolder_;
}

void TIniFileCompo::SetDefaultFolder(TDefaultFolder value) {
  defaultFolder_ = value;
  folder_ = FolderOf(value);
  path_ = folder_ + rtl::ExtractFileName(path_);
  const std::string dir = rtl::ExtractFilePath(path_);
  if (!dir.empty() && !rtl::DirectoryExists(dir)) rtl::ForceDirectories(dir);
  Reload();
}

void TIniFileCompo::SetFileName(std::string value) {
  fileName_ = std::move(value);
  path_ = folder_ + (fileName_.empty() ? defaultName_ : fileName_);
  Reload();
}

void TIniFileCompo::Reload() {
  ini_->Rename(path_, true);
  DoLoad();
}

std::string TIniFileCompo::ReadString(std::string_view Section, std::string_view Ident,
                                      std::string_view Default) const {
  return ini_->ReadString(Section, Ident, Default);
}

void TIniFileCompo::WriteString(std::string_view Section, std::string_view Ident,
                                std::string_view Value) {
  ini_->WriteString(Section, Ident, Value);
  SaveIfAtOnce();
}

bool TIniFileCompo::ValueExists(std::string_view Section, std::string_view Ident) const {
  return ini_->ValueExists(Section, Ident);
}

void TIniFileCompo::UpdateFile() {
  ini_->UpdateFile();
  DoUpdate();
}

void TIniFileCompo::SaveIfAtOnce() {
  if (UpdateAtOnce) UpdateFile();
}

void TIniFileCompo::DoUpdate() {
  if (OnUpdate) OnUpdate(this);
}

void TIniFileCompo::DoLoad() {
  if (OnLoad) OnLoad(this);
}

namespace {

// True when name is prefix followed by the decimal text of a number below count, written as
// the list writes it (no sign, no leading zero).
bool IsListItemName(std::string_view name, std::string_view prefix, long count, bool caseSens) {
  if (name.size() <= prefix.size()) return false;
  std::string_view head = name.substr(0, prefix.size());
  if (caseSens ? head != prefix : !rtl::SameText(head, prefix)) return false;
  std::string_view digits = name.substr(prefix.size());
  if (digits.size() > 1 && digits[0] == '0') return false;
  long v = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
    if (v >= count) return false;
  }
  return true;
}

}  // namespace

void TIniFileCompo::EraseEntry(std::string_view Section, std::string_view Ident) {
  const std::string kind = ini_->ReadString(Section, Ident, "");
  ini_->DeleteKey(Section, Ident);
  const std::string id(Ident);
  auto eraseSuffixes = [&](std::initializer_list<const char*> suffixes) {
    for (const char* s : suffixes)
      ini_->DeleteKey(Section, id + s);
  };
  if (rtl::SameText(kind, "FORM"))
    eraseSuffixes({".flags", ".show", ".state", ".maxx", ".maxy", ".left", ".top", ".width",
                   ".height", ".cwidth", ".cheight"});
  if (rtl::SameText(kind, "RECT")) eraseSuffixes({".left", ".top", ".right", ".bottom"});
  if (rtl::SameText(kind, "LIST")) {
    const long count = ini_->ReadInteger(Section, id + ".count", 0);
    ini_->DeleteKey(Section, id + ".count");
    // Walks the keys that exist rather than every number below count, so a huge count in the
    // file costs nothing; the keys removed are the same.
    for (const std::string& name : ini_->ReadSection(Section))
      if (IsListItemName(name, id + ".", count, ini_->CaseSensitive()))
        ini_->DeleteKey(Section, name);
  }
  if (rtl::SameText(kind, "BOUNDS")) eraseSuffixes({".left", ".top", ".width", ".height"});
  SaveIfAtOnce();
}

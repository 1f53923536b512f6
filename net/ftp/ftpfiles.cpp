// The commands on folders and files: the listings (LIST, NLST, MLSD sent over a data connection,
// MLST on the control connection), DELE, SIZE, RNFR and RNTO, MKD and RMD, MDTM and MFMT, and MD5
// (computed a part at a time from the server's window). Paths in replies are the ones the client
// sees in its tree, never the local ones.
#include <algorithm>

#include "net/ftp/ftpsrv.h"
#include "net/ftp/ftptime.h"
#include "rtl/cp932.h"
#include "rtl/datetime.h"

namespace {

std::string Backslashed(std::string s) {
  for (char& c : s)
    if (c == '/') c = '\\';
  return s;
}

rtl::fs::TFileKind KindOf(const std::string& path) {
  rtl::fs::TFileInfo info;
  if (rtl::fs::LStat(path, info) != 0) return rtl::fs::TFileKind::Missing;
  return info.Kind;
}

bool IsFileOrFolder(rtl::fs::TFileKind kind) {
  return kind == rtl::fs::TFileKind::Regular || kind == rtl::fs::TFileKind::Directory;
}

std::string Quoted(const std::string& text) {
  return "'" + text + "'";
}

// The last name of a local path.
std::string LastName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

uint8_t ListCode(TFtpListKind kind) {
  switch (kind) {
    case TFtpListKind::Unix:
      return ftpcLIST;
    case TFtpListKind::Names:
      return ftpcNLST;
    case TFtpListKind::Facts:
      return ftpcMLSD;
  }
  return ftpcLIST;
}

TFtpListKind ListKindOf(uint8_t code) {
  if (code == ftpcNLST) return TFtpListKind::Names;
  if (code == ftpcMLSD) return TFtpListKind::Facts;
  return TFtpListKind::Unix;
}

// Leading words that start with "-" are options in the manner of ls: "a" among their letters asks
// for hidden entries too ("-la", "-AL", "-a"); the rest of the text names what to list.
std::string TakeListOptions(const std::string& params, bool& all) {
  size_t i = 0;
  all = false;
  while (true) {
    while (i < params.size() && (params[i] == ' ' || params[i] == '\t'))
      ++i;
    if (i >= params.size() || params[i] != '-') break;
    const size_t end = params.find_first_of(" \t", i);
    const std::string word =
        params.substr(i, end == std::string::npos ? std::string::npos : end - i);
    if (word.find_first_of("aA") != std::string::npos) all = true;
    i = end == std::string::npos ? params.size() : end;
  }
  return params.substr(i);
}

}  // namespace

// ---- listings ----

void TFtpServer::CommandLIST(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                             TFtpString& Answer) {
  CommandDirectory(Client, Keyword, Params, Answer, TFtpListKind::Unix);
}

void TFtpServer::CommandNLST(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                             TFtpString& Answer) {
  CommandDirectory(Client, Keyword, Params, Answer, TFtpListKind::Names);
}

void TFtpServer::CommandMLSD(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                             TFtpString& Answer) {
  CommandDirectory(Client, Keyword, Params, Answer, TFtpListKind::Facts);
}

// A listing is sent from its stream like a file, once its "150" is on its way.
void TFtpServer::CommandDirectory(TFtpCtrlSocket* Client, TFtpString&, TFtpString& Params,
                                  TFtpString& Answer, TFtpListKind Kind) {
  StartTransfer(Client, Params, Answer, *FtpXferEntry(ListCode(Kind)));
}

void TFtpServer::PrepareListing(TFtpCtrlSocket* Client, const TFtpString& Params, uint8_t Code) {
  const TFtpListKind kind = ListKindOf(Code);
  const bool detailed = kind != TFtpListKind::Names;
  TFtpString what = Backslashed(Params);
  TriggerBuildDirectory(Client, what, detailed);
  if (Client->DataStream()) return;  // the application's
  Client->Transfer().SetStream(std::make_unique<TFtpMemoryStream>(), true);
  BuildListing(Client, what, kind);
  TriggerAlterDirectory(Client, what, detailed);
  Client->DataStream()->Seek(0);
}

void TFtpServer::BuildListing(TFtpCtrlSocket* Client, const TFtpString& Params, TFtpListKind Kind) {
  bool all = false;
  const std::string what = TakeListOptions(Params, all);
  std::vector<TFtpDirEntry> entries;
  std::string shown;  // what the client asked for, as it sees it
  int err = 0;

  std::string built;
  if (!what.empty()) TriggerBuildFilePath(Client, Client->Directory(), what, built);
  if (!built.empty()) {
    // The application's own path: a folder, a file, or a pattern in a folder.
    shown = what;
    const rtl::fs::TFileKind kind = KindOf(built);
    TFtpDirEntry e;
    if (kind == rtl::fs::TFileKind::Directory) {
      err = ScanFtpFolder(built, "", all, built == Client->HomeRoot(), entries);
    } else if (kind == rtl::fs::TFileKind::Regular) {
      if (FtpEntryOf(built, LastName(built), e)) entries.push_back(e);
    } else if (FtpHasWildcard(LastName(built))) {
      const std::string folder = built.substr(0, built.size() - LastName(built).size());
      err = ScanFtpFolder(folder, LastName(built), all, false, entries);
    }
  } else {
    if (Client->HomeRoot().empty()) throw EFtpPathError(kFtpPathNoPermission);
    std::vector<std::string> names =
        CombineFtpPath(Client->Directory(), what, TFtpDotDot::StopAtRoot);
    std::string pattern;
    if (!names.empty() && FtpHasWildcard(names.back())) {
      pattern = names.back();
      names.pop_back();
    }
    const TFtpLocation loc = LocateFtpPath(Client->HomeRoot(), names);
    const bool atRoot = loc.Names.empty();
    if (!pattern.empty()) {
      shown = FtpPathText(loc.Names, true) + pattern;
      if (loc.Kind == rtl::fs::TFileKind::Directory)
        err = ScanFtpFolder(loc.Local, pattern, all, atRoot, entries);
    } else if (loc.Kind == rtl::fs::TFileKind::Directory) {
      // A folder lists its contents.
      shown = FtpPathText(loc.Names, true) + "*.*";
      err = ScanFtpFolder(loc.Local, "", all, atRoot, entries);
    } else {
      shown = loc.Virtual();
      TFtpDirEntry e;
      if (loc.Kind == rtl::fs::TFileKind::Regular && (all || !FtpHiddenName(loc.Names.back())) &&
          FtpEntryOf(loc.Local, loc.Names.back(), e))
        entries.push_back(e);
    }
  }
  if (err != 0) throw rtl::EInOutError(rtl::fs::ErrorText(err), err);

  const int currentYear = rtl::LocalTimeOf(rtl::WallClockMicros()).Year;
  std::string text;
  for (const TFtpDirEntry& e : entries) {
    std::string line;
    switch (Kind) {
      case TFtpListKind::Unix:
        line = FtpUnixLine(e, currentYear);
        break;
      case TFtpListKind::Names:
        line = e.Name;
        break;
      case TFtpListKind::Facts:
        line = FtpFactsLine(e);
        break;
    }
    if (!line.empty()) text += line + "\r\n";
  }
  if (text.empty()) text = shown + " not found\r\n";
  Client->DataStream()->Write(text.data(), static_cast<int64_t>(text.size()));
}

void TFtpServer::CommandMLST(TFtpCtrlSocket* Client, TFtpString&, TFtpString& Params,
                             TFtpString& Answer) {
  TFtpDirEntry entry;
  bool found = false;
  if (Params.empty()) Params = "*.*";
  if (Params == "*.*") {
    // The first entry of the current folder: the folder itself.
    const TFtpTarget here = ResolveTarget(Client, "");
    found = FtpEntryOf(here.Local, ".", entry);
  } else if (FtpHasWildcard(Params)) {
    std::vector<TFtpDirEntry> entries;
    std::vector<std::string> names =
        CombineFtpPath(Client->Directory(), Params, TFtpDotDot::Refuse);
    const std::string pattern = names.back();
    names.pop_back();
    const TFtpLocation loc = LocateFtpPath(Client->HomeRoot(), names);
    if (loc.Kind == rtl::fs::TFileKind::Directory &&
        ScanFtpFolder(loc.Local, pattern, false, loc.Names.empty(), entries) == 0 &&
        !entries.empty()) {
      entry = entries.front();
      found = true;
    }
  } else {
    const TFtpTarget target = ResolveTarget(Client, Params);
    const std::string name = target.Shown == "/" ? "/" : LastName(target.Shown);
    found = !FtpHiddenName(name) && FtpEntryOf(target.Local, name, entry);
  }
  if (!found) {
    Answer = "550 '" + Params + "': no such file or directory.";
    return;
  }
  Answer = "250-Listing " + Params + "\r\n " + FtpFactsLine(entry) + "\r\n250 END";
}

// ---- files ----

void TFtpServer::CommandDELE(TFtpCtrlSocket* Client, TFtpString&, TFtpString& Params,
                             TFtpString& Answer) {
  const TFtpTarget target = ResolveTarget(Client, Params);
  std::string path = target.Local;
  bool Allowed = true;
  TriggerValidateDele(Client, path, Allowed);
  if (!Allowed) {
    Answer = "550 Cannot delete.";
  } else if (Params.empty()) {
    Answer = "501 Syntax error in parameter.";
  } else if (KindOf(path) == rtl::fs::TFileKind::Regular) {
    if (rtl::fs::DeleteFile(path) == 0)
      Answer = "250 File " + Quoted(target.Shown) + " deleted.";
    else
      Answer = "450 File " + Quoted(target.Shown) + " can't be deleted.";
  } else {
    Answer = "550 " + Quoted(target.Shown) + ": no such file or directory.";
  }
}

void TFtpServer::CommandSIZE(TFtpCtrlSocket* Client, TFtpString&, TFtpString& Params,
                             TFtpString& Answer) {
  try {
    const TFtpTarget target = ResolveTarget(Client, Params);
    std::string path = target.Local;
    bool Allowed = true;
    TriggerValidateSize(Client, path, Allowed);
    if (!Allowed) {
      Answer = "501 Permission Denied";
    } else if (Params.empty()) {
      Answer = "501 Syntax error in parameter.";
    } else {
      const int64_t size = FileSizeOf(path);
      if (size < 0)
        Answer = "550 Command failed: File not found.";
      else
        Answer = "213 " + std::to_string(size);
    }
  } catch (const rtl::Exception& E) {
    Answer = "550 Command failed: " + E.Message + ".";
  }
}

void TFtpServer::CommandRNFR(TFtpCtrlSocket* Client, TFtpString&, TFtpString& Params,
                             TFtpString& Answer) {
  const TFtpTarget target = ResolveTarget(Client, Params);
  std::string path = target.Local;
  bool Allowed = true;
  TriggerValidateRnFr(Client, path, Allowed);
  if (!Allowed) {
    Answer = "500 Cannot RNFR.";
  } else if (Params.empty()) {
    Answer = "501 Syntax error is parameter.";
  } else if (!IsFileOrFolder(KindOf(path))) {
    Answer = "550 " + Quoted(target.Shown) + ": no such file or directory.";
  } else {
    Client->FromFileName = path;
    Client->FromFileShown = target.Shown;
    Answer = "350 File exists, ready for destination name.";
  }
}

void TFtpServer::CommandRNTO(TFtpCtrlSocket* Client, TFtpString&, TFtpString& Params,
                             TFtpString& Answer) {
  const TFtpTarget target = ResolveTarget(Client, Params);
  std::string path = target.Local;
  bool Allowed = true;
  TriggerValidateRnTo(Client, path, Allowed);
  if (!Allowed) {
    Answer = "500 Cannot RNTO.";
  } else if (Params.empty()) {
    Answer = "501 Syntax error in parameter.";
  } else if (KindOf(path) != rtl::fs::TFileKind::Missing) {
    Answer = "553 " + Quoted(target.Shown) + ": file already exists.";
  } else if (Client->FromFileName.empty() || !IsFileOrFolder(KindOf(Client->FromFileName))) {
    Answer = "550 " + Quoted(Client->FromFileShown) + ": no such file or directory.";
  } else {
    Client->ToFileName = path;
    if (rtl::fs::Rename(Client->FromFileName, path) == 0)
      Answer =
          "250 File " + Quoted(Client->FromFileShown) + " renamed to " + Quoted(target.Shown) + ".";
    else
      Answer = "450 File " + Quoted(Client->FromFileShown) + " can't be renamed.";
  }
}

void TFtpServer::CommandMKD(TFtpCtrlSocket* Client, TFtpString&, TFtpString& Params,
                            TFtpString& Answer) {
  try {
    const TFtpTarget target = ResolveTarget(Client, Params);
    bool Allowed = true;
    TriggerMakeDirectory(Client, target.Local, Allowed);
    if (!Allowed) {
      Answer = "550 " + Quoted(target.Shown) + ": can't create directory.";
    } else if (Params.empty()) {
      Answer = "501 Syntax error in parameter.";
    } else if (KindOf(target.Local) == rtl::fs::TFileKind::Regular) {
      Answer = "550 " + Quoted(target.Shown) + ": file or directory already exists.";
    } else if (rtl::fs::MakeDirectory(target.Local) != 0) {
      Answer = "550 " + Quoted(target.Shown) + ": can't create directory.";
    } else {
      Answer = "257 " + Quoted(target.Shown) + ": directory created.";
    }
  } catch (const rtl::Exception& E) {
    Answer = "550 " + Quoted(E.Message) + ": can't create directory.";
  }
}

void TFtpServer::CommandRMD(TFtpCtrlSocket* Client, TFtpString&, TFtpString& Params,
                            TFtpString& Answer) {
  const TFtpTarget target = ResolveTarget(Client, Params);
  std::string path = target.Local;
  bool Allowed = true;
  TriggerValidateRmd(Client, path, Allowed);
  if (!Allowed) {
    Answer = "500 Cannot remove directory.";
  } else if (Params.empty()) {
    Answer = "501 Syntax error in parameter.";
  } else if (PathExists(path)) {
    // The session's home is never removed: its tree would be gone.
    if (path == Client->HomeRoot() || rtl::fs::RemoveDirectory(path) != 0)
      Answer = "550 " + Quoted(target.Shown) + ": can't remove directory.";
    else
      Answer = "250 " + Quoted(target.Shown) + ": directory removed.";
  } else {
    Answer = "550 " + Quoted(target.Shown) + ": no such directory.";
  }
}

// MDTM reads a file's time, or sets it when 14 digits come first; MFMT always sets it, as UTC.
void TFtpServer::CommandMDTM(TFtpCtrlSocket* Client, TFtpString& Keyword, TFtpString& Params,
                             TFtpString& Answer) {
  const bool mfmt = Keyword == "MFMT";
  try {
    size_t digits = 0;
    while (digits < Params.size() && Params[digits] >= '0' && Params[digits] <= '9')
      ++digits;
    bool hasTime = false;
    bool utc = mfmt;
    rtl::TDateTime when = 0;
    size_t i = 0;
    if (digits == 14) {
      when = MdtmToDateTime(std::string_view(Params).substr(0, 14));
      if (when < 10) {
        Answer = "501 Syntax error in MDTM/MFMT parameter.";
        return;
      }
      hasTime = true;
      i = 14;
      const size_t run = i;
      while (i < Params.size() &&
             (Params[i] == '+' || Params[i] == '-' || (Params[i] >= '0' && Params[i] <= '9')))
        ++i;
      if (!mfmt && i > run) {
        utc = true;
        const int32_t minutes =
            ParseZoneOffset(std::string_view(Params).substr(run, std::min<size_t>(4, i - run)));
        when += static_cast<rtl::TDateTime>(minutes) / 1440;
      }
    }
    while (i < Params.size() && Params[i] == ' ')
      ++i;
    const std::string name = Params.substr(i, 999);
    const TFtpTarget target = ResolveTarget(Client, name);
    std::string path = target.Local;
    if (Params.empty()) {
      Answer = "501 Syntax error in MDTM/MFMT parameter.";
    } else if (KindOf(path) != rtl::fs::TFileKind::Regular) {
      Answer = "550 " + Quoted(target.Shown) + ": no such file or directory.";
    } else if (hasTime) {
      bool Allowed = true;
      TriggerValidateMfmt(Client, path, Allowed);
      if (!Allowed)
        Answer = "501 Permission Denied";
      else if (!(utc ? SetFileTimeRaw(path, when) : SetFileDateLocal(path, when)))
        Answer = "550 MDTM/MFMT cannot change date/time on this server";
      else
        Answer = mfmt ? "213 Date/time changed OK" : "253 Date/time changed OK";
    } else if (mfmt) {
      Answer = "501 Syntax error in MDTM/MFMT parameter.";
    } else {
      const std::string text = FileUtcTimeText(path);
      Answer = text.empty() ? "550 UTC File time retrieval failed" : "213 " + text;
    }
  } catch (const rtl::Exception&) {
    Answer = "550 MDTM/MFMT cannot change date/time on this server";
  }
}

// The digest of a large file takes a while: it is computed a part per message of the server's
// window, the reply is sent when it is ready, and the session reads no further command until then.
void TFtpServer::CommandMD5(TFtpCtrlSocket* Client, TFtpString&, TFtpString& Params,
                            TFtpString& Answer) {
  try {
    const TFtpTarget target = ResolveTarget(Client, Params);
    std::string path = target.Local;
    TFtpString sum;
    bool Allowed = true;
    TriggerCalculateMd5(Client, path, sum, Allowed);
    if (!Allowed) {
      Answer = "500 Cannot RETR.";
    } else if (!sum.empty()) {
      Answer = "251 \"" + Params + "\" " + rtl::UpperCase(sum);
    } else if (KindOf(path) != rtl::fs::TFileKind::Regular) {
      Answer = "550 " + Quoted(Params) + ": no such file.";
    } else {
      Client->Md5Job = std::make_unique<TFileMd5>(path);
      Client->Md5Params = Params;
      if (!PostToClient(MsgMd5Step, Client)) throw FtpServerException("Server window gone");
      Client->SuspendCommands();
      Client->AnswerDeferred = true;
      Answer.clear();
    }
  } catch (const rtl::Exception& E) {
    Client->Md5Job.reset();
    Answer = "550 MD5 SUM failed : " + Quoted(E.Message) + ".";
  }
}

void TFtpServer::Md5Step(TFtpCtrlSocket* Client) {
  if (!Client->Md5Job) return;
  std::string answer;
  try {
    if (!Client->Md5Job->Step(kFtpMd5StepBytes)) {
      // Still going: the session is busy, not idle.
      Client->LastActivityTick = GetTickCount();
      if (PostToClient(MsgMd5Step, Client)) return;
      throw FtpServerException("Server window gone");
    }
    const std::string hex = Client->Md5Job->Hex();
    if (hex.empty())
      answer = "550 MD5 SUM failed : " + Quoted(Client->Md5Params) + ".";
    else
      answer = "251 \"" + Client->Md5Params + "\" " + hex;
  } catch (const rtl::Exception& E) {
    answer = "550 MD5 SUM failed : " + Quoted(E.Message) + ".";
  }
  Client->Md5Job.reset();
  SendAnswer(Client, answer);
  Client->ResumeCommands();
}

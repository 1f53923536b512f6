// The collector's hooks on its FTP server: the one account agents log in with, the event written
// for every received file, and the protection of the collector's own files in the program folder
// that is the agents' home.
#include <string_view>

#include "collector/dayfiles.h"
#include "collector/engine.h"
#include "collector/messages.h"
#include "rtl/cp932.h"
#include "rtl/files.h"
#include "rtl/fs.h"
#include "settings/keys.h"

namespace {

constexpr char kFtpUser[] = "Brindlework";
constexpr char kFtpPassword[] = "rtso7362";

// The reply the server sends once an upload has been stored completely.
constexpr std::string_view kFileReceived = "226 File received ok";

// The programs that live in the program folder (the collector also protects its own file name,
// whatever it is).
constexpr const char* kProgramNames[] = {"KelvadonService", "KelvadonMan", "Rekindler", "scmd"};

// Compares without an early exit, so the time taken tells nothing of where texts differ.
bool SameSecret(const std::string& a, const char* b) {
  const size_t n = std::char_traits<char>::length(b);
  unsigned diff = a.size() != n;
  for (size_t i = 0; i < a.size(); ++i)
    diff |= static_cast<unsigned char>(a[i]) ^ static_cast<unsigned char>(b[i % (n ? n : 1)]);
  return diff == 0;
}

// Folder names without their trailing "/".
std::string FolderName(std::string_view folder) {
  if (!folder.empty() && folder.back() == '/') folder.remove_suffix(1);
  return std::string(folder);
}

// What a local path is to the collector.
struct TProtection {
  bool Write = false;  // may not be written, appended, deleted, renamed, made or retimed
  bool Read = false;   // may not be read either
};

// The protection of path, a local path as the FTP server resolves it (no "." or "..", no links),
// below the program folder programDir.
TProtection ProtectionOf(const std::string& programDir, const std::string& path) {
  TProtection p;
  // The server resolves below the real path of its home; the program folder may be named
  // through a link, so both spellings are tried.
  std::string root = FolderName(programDir);
  std::string real;
  if (rtl::fs::RealPath(root, real) == 0 && path.compare(0, real.size(), real) == 0) root = real;
  if (path.compare(0, root.size(), root) != 0) return p;
  std::string_view rest = std::string_view(path).substr(root.size());
  if (!rest.empty() && rest.front() != '/') return p;  // a sibling folder that starts alike
  while (!rest.empty() && rest.front() == '/')
    rest.remove_prefix(1);
  if (rest.empty()) {
    // The program folder itself holds the programs: it is not removed or renamed.
    p.Write = true;
    return p;
  }
  const size_t slash = rest.find('/');
  const std::string_view first = rest.substr(0, slash);
  // Names are compared without letter case: the server finds names either way.
  if (rtl::SameText(first, FolderName(collector::kRecordFolder)) ||
      rtl::SameText(first, FolderName(collector::kEventFolder))) {
    p.Write = p.Read = true;  // the day folders and every day file in them
    return p;
  }
  if (slash != std::string_view::npos) return p;  // inside an agent's own folder
  if (rtl::SameText(first, settings::kIniFileName)) {
    p.Write = p.Read = true;
    return p;
  }
  for (const char* program : kProgramNames)
    if (rtl::SameText(first, program)) p.Write = true;
  if (rtl::SameText(first, rtl::ExtractFileName(rtl::ProgramFileName()))) p.Write = true;
  // Shared libraries: "lib" + name + ".so" with or without a version.
  const std::string lower = rtl::LowerCase(first);
  if (lower.rfind("lib", 0) == 0 && lower.find(".so") != std::string::npos) p.Write = true;
  return p;
}

}  // namespace

void TCollectorEngine::KelvadonFtpAuthenticate(rtl::TObject* Sender, TFtpCtrlSocket* Client,
                                               const TFtpString& UserName,
                                               const TFtpString& Password, bool& Authenticated) {
  const bool user = SameSecret(UserName, kFtpUser);
  const bool password = SameSecret(Password, kFtpPassword);
  if (!user || !password) {
    Authenticated = false;
    return;
  }
  Client->HomeDir = ProgramDir;
}

// Every reply passes here; only the one for a completed upload (the reply, or a part of it, is
// found in "226 File received ok") writes the event. The reply itself is never changed.
void TCollectorEngine::KelvadonFtpAnswerToClient(rtl::TObject* Sender, TFtpCtrlSocket* Client,
                                                 TFtpString& Answer) {
  if (Answer.empty() || kFileReceived.find(Answer) == std::string_view::npos) return;
  std::string name = Client->FileName;
  for (char& c : name) {
    if (c == '/') c = '\\';
    // The name is the agent's text: a control byte could start a line of its own in the file.
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  EventWrite(collector::kCodeInfo, std::string(collector::msg::kReceivedFileEvent) + "\r\n> " +
                                       Client->GetPeerAddr() + " " + name);
}

void TCollectorEngine::KelvadonFtpValidateChange(rtl::TObject* Sender, TFtpCtrlSocket* Client,
                                                 TFtpString& FilePath, bool& Allowed) {
  if (ProtectionOf(ProgramDir, FilePath).Write) Allowed = false;
}

void TCollectorEngine::KelvadonFtpMakeDirectory(rtl::TObject* Sender, TFtpCtrlSocket* Client,
                                                const TFtpString& Directory, bool& Allowed) {
  if (ProtectionOf(ProgramDir, Directory).Write) Allowed = false;
}

void TCollectorEngine::KelvadonFtpValidateRead(rtl::TObject* Sender, TFtpCtrlSocket* Client,
                                               TFtpString& FilePath, bool& Allowed) {
  if (ProtectionOf(ProgramDir, FilePath).Read) Allowed = false;
}

void TCollectorEngine::KelvadonFtpAcceptPaused(rtl::TObject* Sender, WORD Error) {
  host_.HandlerFailed("KelvadonFtpAcceptPaused", "ESocketException",
                      SocketErrorText(Error, "Accept"));
}

void TCollectorEngine::KelvadonFtpCalculateMd5(rtl::TObject* Sender, TFtpCtrlSocket* Client,
                                               TFtpString& FilePath, TFtpString& Md5Sum,
                                               bool& Allowed) {
  if (ProtectionOf(ProgramDir, FilePath).Read) Allowed = false;
}

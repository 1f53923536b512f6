#include "net/mail/smtpcli.h"

#include <cstring>

#include "net/mail/mime.h"
#include "net/mail/smtpaddress.h"
#include "net/mail/smtpbody.h"
#include "rtl/cp932.h"
#include "rtl/datetime.h"
#include "rtl/files.h"

using net::mail::Base64StreamLine;
using net::mail::CloseAttachmentStream;
using net::mail::ContentTypeOfFile;
using net::mail::NeedsEncoding;
using net::mail::OpenAttachmentStream;

namespace {

unsigned ShareFlags(TSmtpShareMode mode) {
  switch (mode) {
    case smtpShareExclusive:
      return net::mail::fmShareExclusive;
    case smtpShareDenyWrite:
      return net::mail::fmShareDenyWrite;
    case smtpShareDenyRead:
      return net::mail::fmShareDenyRead;
    case smtpShareDenyNone:
      return net::mail::fmShareDenyNone;
    default:
      return net::mail::fmShareCompat;
  }
}

bool StartsText(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && rtl::SameText(text.substr(0, prefix.size()), prefix);
}

// Puts text into the hook's buffer of size bytes (zero-terminated).
void PutLine(char* buffer, int32_t size, const std::string& text) {
  if (size <= 0) return;
  const size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
}

}  // namespace

TSmtpCli::TSmtpCli(rtl::TComponent* owner) : TCustomSmtpClient(owner) {}

TSmtpCli::~TSmtpCli() = default;

void TSmtpCli::SetEmailFiles(const rtl::TStringList& value) {
  EmailFiles.Clear();
  for (int i = 0; i < value.Count(); ++i) {
    const std::string path = rtl::Trim(value[i]);
    if (path.empty()) continue;
    if (!rtl::FileExists(path)) throw SmtpException("File not found '" + path + "'");
    EmailFiles.Add(path);
  }
}

void TSmtpCli::NotifyAttachContentType(int32_t FileNumber, std::string& FileName,
                                       std::string& ContentType) {
  if (OnAttachContentType) OnAttachContentType(this, FileNumber, FileName, ContentType);
}

void TSmtpCli::NotifyAttachHeader(int32_t FileNumber, const std::string& FileName,
                                  rtl::TStringList& HdrLines) {
  if (OnAttachHeader) OnAttachHeader(this, FileNumber, FileName, HdrLines);
}

void TSmtpCli::Data() {
  // A message in flight keeps its body: nothing is reset before the checks.
  CheckReady();
  if (SendMode != smtpToStream && !IsConnected) throw SmtpException("SMTP component not connected");
  PrepareMessage();
  TCustomSmtpClient::Data();
}

void TSmtpCli::Abort() {
  CloseAttachmentStream(FileStream);
  FileOpen = false;
  TCustomSmtpClient::Abort();
}

void TSmtpCli::PrepareMessage() {
  SendingText = true;
  FileIndex = 0;
  ExtraLineNum = 0;
  CloseAttachmentStream(FileStream);
  FileOpen = false;
  closingQueued_ = false;
  MsgEncoding = DefaultEncoding;
  MailText = SmtpMailText(MailMessage);
  TextPos = MailText.empty() ? 0 : 1;
  if (!MailText.empty() && (MsgEncoding == smtpEnc7bit || MsgEncoding == smtpEnc8bit) &&
      ((!Allow8bitChars && NeedsEncoding(MailText)) ||
       HasLineLongerThan(MailText, kSmtpMaxTextLine)))
    MsgEncoding = smtpEncQuotedPrintable;
  MimeLines.Clear();
  if (EmailFiles.Count() == 0) {
    Boundary.clear();
    return;
  }
  Boundary = "= Multipart Boundary " + rtl::FormatDateTime("mmddyyhhnn", rtl::Now());
  MimeLines.Add("This is a multipart MIME message.");
  MimeLines.Add("");
  MimeLines.Add("--" + Boundary);
  MimeLines.Add("Content-Type: " + MimeTypeText() + "; charset=\"" + BlankLineBreaks(CharSet) +
                "\"");
  MimeLines.Add(std::string("Content-Transfer-Encoding: ") + SmtpEncodingName(MsgEncoding));
  MimeLines.Add("");
}

std::string TSmtpCli::NextTextPiece() {
  return NextTextLine(MailText, TextPos, MsgEncoding, WrapMessageText);
}

void TSmtpCli::NotifyHeaderLine(char* Msg, int32_t Size) {
  const std::string line(Msg);
  if (!Boundary.empty()) {
    if (StartsText(line, "CONTENT-TYPE:"))
      PutLine(Msg, Size, "Content-Type: multipart/mixed;\r\n\tboundary=\"" + Boundary + "\"");
  } else if (StartsText(line, "CONTENT-TYPE: TEXT") && MsgEncoding != smtpEnc7bit) {
    PutLine(Msg, Size, line + "\r\nContent-Transfer-Encoding: " + SmtpEncodingName(MsgEncoding));
  }
  TCustomSmtpClient::NotifyHeaderLine(Msg, Size);
}

void TSmtpCli::NotifyGetData(int32_t LineNum, std::string& Line, bool& More) {
  More = true;
  if (MimeLines.Count() > 0) {
    Line = MimeLines[0];
    MimeLines.Delete(0);
    return;
  }
  while (SendingText) {
    if (TextPos > 0) {
      Line = NextTextPiece();
      return;
    }
    ++ExtraLineNum;
    bool more = true;
    std::string ownerLine;
    TCustomSmtpClient::NotifyGetData(ExtraLineNum, ownerLine, more);
    if (more) {
      Line = ownerLine;
      return;
    }
    SendingText = false;
  }
  if (FileOpen) {
    bool more = false;
    Line = Base64StreamLine(*FileStream, more);
    if (!more) {
      CloseAttachmentStream(FileStream);
      FileOpen = false;
      ++FileIndex;
    }
    return;
  }
  if (FileIndex < EmailFiles.Count()) {
    Line.clear();
    StartAttachment(More);
    return;
  }
  // However the last attachment ended (sent or skipped), the message ends with its closing
  // boundary.
  if (!Boundary.empty() && !closingQueued_) {
    closingQueued_ = true;
    Line.clear();
    MimeLines.Add("--" + Boundary + "--");
    return;
  }
  More = false;
}

void TSmtpCli::StartAttachment(bool& More) {
  const std::string path = EmailFiles[FileIndex];
  TSmtpBeforeOpenFileAction before = bofaOpen;
  if (OnBeforeFileOpen) OnBeforeFileOpen(this, FileIndex, path, before);
  if (before == bofaSkip) {
    ++FileIndex;
    return;
  }
  if (before == bofaAbort) {
    More = false;
    Abort();
    return;
  }
  TSmtpAfterOpenFileAction after = aofaContinue;
  try {
    FileStream = OpenAttachmentStream(path, net::mail::fmOpenRead | ShareFlags(ShareMode));
  } catch (const rtl::Exception& E) {
    if (!OnAfterFileOpen) throw;
    OnAfterFileOpen(this, FileIndex, path, &E, after);
    switch (after) {
      case aofaSkip:
        ++FileIndex;
        return;
      case aofaRetry:
        return;
      case aofaAbort:
        More = false;
        Abort();
        return;
      default:
        throw;
    }
  }
  if (OnAfterFileOpen) {
    OnAfterFileOpen(this, FileIndex, path, nullptr, after);
    if (after != aofaContinue) {
      CloseAttachmentStream(FileStream);
      if (after == aofaSkip) ++FileIndex;
      if (after == aofaAbort) {
        More = false;
        Abort();
      }
      return;
    }
  }
  std::string name = rtl::ExtractFileName(path);
  std::string type = ContentTypeOfFile(name);
  NotifyAttachContentType(FileIndex, name, type);
  const std::string encoded = SmtpAttachmentName(name, Allow8bitChars, FoldHeaders,
                                                 MsgEncoding == smtpEncBase64 ? 'B' : 'Q', CharSet);
  AddAttachmentPartHeader(Boundary, type, encoded, MimeLines);
  NotifyAttachHeader(FileIndex, name, MimeLines);
  MimeLines.Add("");
  FileOpen = true;
}

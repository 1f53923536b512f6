// TSmtpCli: the SMTP client with message composition. It turns MailMessage and EmailFiles into the
// lines the engine sends between DATA and ".": a single text part in the transfer encoding the
// text needs, or a multipart/mixed message with one base64 part per attached file, always closed by
// its closing boundary. It feeds the engine through its body source (NotifyGetData) and header-line
// hook (NotifyHeaderLine); one message is in memory as text, attachments are read a line at a time.
//
// Ownership and threads: as TCustomSmtpClient (net/mail/smtpclient.h). The client owns EmailFiles
// and the attachment file it has open; Abort closes it.
#pragma once

#include <istream>
#include <memory>
#include <string>

#include "net/mail/smtpclient.h"

class TSmtpCli : public TCustomSmtpClient {
 public:
  explicit TSmtpCli(rtl::TComponent* owner = nullptr);
  ~TSmtpCli() override;

  // Paths of the files to attach, in order. Adding to the list directly checks nothing; a file
  // that cannot be read when its turn comes fails the message (the session is closed, no ".").
  rtl::TStringList EmailFiles;
  // Assigns the list: every entry trimmed, empty ones skipped; raises SmtpException
  // "File not found '" + path + "'" for a file that does not exist (the list then holds the
  // entries before it).
  void SetEmailFiles(const rtl::TStringList& value);

  TSmtpAttachmentContentType OnAttachContentType;
  TSmtpAttachHeader OnAttachHeader;
  TSmtpBeforeFileOpenEvent OnBeforeFileOpen;
  TSmtpAfterFileOpenEvent OnAfterFileOpen;

  // Prepares the body (PrepareMessage) and sends the message (TCustomSmtpClient::Data).
  void Data() override;
  // Closes the attachment file, then aborts as TCustomSmtpClient::Abort.
  void Abort() override;

 protected:
  const char* ClassName() const override { return "TSmtpCli"; }

  // ---- virtual operations added, in their order ----
  virtual void NotifyAttachContentType(int32_t FileNumber, std::string& FileName,
                                       std::string& ContentType);
  virtual void NotifyAttachHeader(int32_t FileNumber, const std::string& FileName,
                                  rtl::TStringList& HdrLines);
  // Resets every piece of body state for a new message: the text, its transfer encoding
  // (quoted-printable when 8-bit bytes are not allowed and the text needs encoding, or when a line
  // is longer than 998 bytes), and for attachments the boundary and the multipart preamble.
  virtual void PrepareMessage();
  // The next line of the text part in MsgEncoding.
  virtual std::string NextTextPiece();

  // The body source: queued MIME lines first, then the text part, then the owner's OnGetData
  // lines, then each attachment (its part header and its base64 lines), then the closing boundary.
  void NotifyGetData(int32_t LineNum, std::string& Line, bool& More) override;
  // With attachments, the Content-Type line becomes multipart/mixed with the boundary; without,
  // a text Content-Type line gets its Content-Transfer-Encoding (unless 7bit). Then OnHeaderLine.
  void NotifyHeaderLine(char* Msg, int32_t Size) override;

  // ---- body state ----
  rtl::TStringList MimeLines;  // lines queued before anything else
  std::string Boundary;        // empty for a single-part message
  std::string MailText;        // MailMessage joined, each line ended by CR LF
  int TextPos = 0;             // next position in MailText (from 1); 0 when the text is done
  bool SendingText = false;
  int ExtraLineNum = 0;  // line counter passed to OnGetData after MailText
  int FileIndex = 0;     // the next or current attachment
  bool FileOpen = false;
  std::unique_ptr<std::istream> FileStream;
  TSmtpDefaultEncoding MsgEncoding = smtpEnc7bit;

 private:
  // Opens attachment FileIndex and queues its part header, or skips, retries or aborts as the
  // owner's events say. Raises the opening's failure when nobody handles it.
  void StartAttachment(bool& More);

  bool closingQueued_ = false;
};

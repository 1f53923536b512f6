#include "net/mail/smtpbody.h"

#include <limits>

#include "net/mail/mime.h"
#include "net/mail/smtpaddress.h"
#include "net/mail/smtpheader.h"
#include "net/mail/smtplimits.h"

using net::mail::CharSetOf;
using net::mail::FoldHdrValue;
using net::mail::HdrEncodeInLine;
using net::mail::MimeBase64EncodeSpan;
using net::mail::NeedsEncoding;
using net::mail::NextPiece;
using net::mail::QpEncodeSpan;
using net::mail::TCharSet;

namespace {

constexpr int kQpLineWidth = 75;
constexpr int kNameWordWidth = 63;
constexpr int kNameFoldFrom = 64;

bool Trimmed(unsigned char c) {
  return c <= 0x20 && c != 0x1B;
}

}  // namespace

const char* SmtpEncodingName(TSmtpDefaultEncoding encoding) {
  switch (encoding) {
    case smtpEnc8bit:
      return "8bit";
    case smtpEncQuotedPrintable:
      return "quoted-printable";
    case smtpEncBase64:
      return "base64";
    default:
      return "7bit";
  }
}

std::string SmtpMailText(const rtl::TStringList& lines) {
  std::string text;
  for (int i = 0; i < lines.Count(); ++i) {
    const std::string& line = lines[i];
    for (size_t k = 0; k < line.size(); ++k) {
      if (line[k] == '\r') {
        if (k + 1 < line.size() && line[k + 1] == '\n') ++k;
        text += "\r\n";
      } else if (line[k] == '\n') {
        text += "\r\n";
      } else {
        text += line[k];
      }
    }
    text += "\r\n";
  }
  return text;
}

bool HasLineLongerThan(std::string_view text, int maxLen) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    if (end - start > static_cast<size_t>(maxLen)) return true;
    start = end + 2;
  }
  return false;
}

std::string TrimBodyLine(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && Trimmed(static_cast<unsigned char>(s[b])))
    ++b;
  while (e > b && Trimmed(static_cast<unsigned char>(s[e - 1])))
    --e;
  return std::string(s.substr(b, e - b));
}

std::string NextTextLine(std::string_view text, int& Pos, TSmtpDefaultEncoding encoding,
                         bool wrap) {
  std::string line;
  switch (encoding) {
    case smtpEncQuotedPrintable:
      line = QpEncodeSpan(text, kQpLineWidth, TCharSet(), true, Pos, false);
      // The text's own line ends are encoded, so the hard line end after its last line would add
      // one more: that line ends in a soft break instead.
      if (Pos > static_cast<int>(text.size()) && (line.empty() || line.back() != '=')) line += '=';
      break;
    case smtpEncBase64:
      line = MimeBase64EncodeSpan(text, kSmtpLineWidth, Pos);
      break;
    default: {
      static const TCharSet kWrapBreaks = CharSetOf(" \t,-.");
      line = TrimBodyLine(NextPiece(text, "\r\n", wrap ? kWrapBreaks : TCharSet(), Pos, TCharSet(),
                                    wrap ? kSmtpLineWidth : std::numeric_limits<int>::max()));
      break;
    }
  }
  if (Pos > static_cast<int>(text.size())) Pos = 0;
  return line;
}

std::string SmtpAttachmentName(std::string_view name, bool allow8bit, bool fold, char encType,
                               std::string_view charSet) {
  if (!allow8bit && NeedsEncoding(name))
    return HdrEncodeInLine(name, SmtpHeaderSpecials(), encType, fold, kNameWordWidth, charSet);
  std::string quoted = QuotedHeaderText(name);
  std::string escaped = quoted.substr(1, quoted.size() - 2);
  if (fold && static_cast<int>(escaped.size()) > kNameFoldFrom)
    escaped = FoldHdrValue(escaped, CharSetOf(" \t"), kNameWordWidth);
  return escaped;
}

void AddAttachmentPartHeader(std::string_view boundary, std::string_view contentType,
                             std::string_view encodedName, rtl::TStringList& lines) {
  const std::string name(encodedName);
  lines.Add("--" + std::string(boundary));
  lines.Add("Content-Type: " + std::string(contentType) + ";");
  lines.Add("\tname=\"" + name + "\"");
  lines.Add("Content-Transfer-Encoding: base64");
  lines.Add("Content-Disposition: attachment;");
  lines.Add("\tfilename=\"" + name + "\"");
}

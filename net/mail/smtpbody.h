// The pieces of a message body: the text part cut into lines in its transfer encoding, and the
// part header of an attached file. Pure functions on CP932 byte strings, safe from any thread.
#pragma once

#include <string>
#include <string_view>

#include "net/mail/smtptypes.h"
#include "rtl/classes.h"

// The transfer-encoding name of encoding: "7bit", "8bit", "quoted-printable" or "base64".
const char* SmtpEncodingName(TSmtpDefaultEncoding encoding);

// The message text: lines joined, each ended by CR LF, where every line end inside an entry (CR
// LF, a lone CR or a lone LF) is made CR LF too, so no bare CR or LF can reach the wire.
std::string SmtpMailText(const rtl::TStringList& lines);

// True when a line of text (between CR LF pairs) is longer than maxLen bytes.
bool HasLineLongerThan(std::string_view text, int maxLen);

// s without the blanks and control bytes (0x00-0x20) at either end. ESC (0x1B) is kept, so an
// ISO-2022-JP line that starts in double-byte mode keeps its escape sequence.
std::string TrimBodyLine(std::string_view s);

// The next line of the text part from Pos (counted from 1), in the given encoding:
// - 7bit, 8bit: the next line up to CR LF, trimmed by TrimBodyLine; with wrap, a line longer than
//   76 columns is cut after its last blank, TAB, ",", "-" or "." within them;
// - quoted-printable: the next encoded line of at most 75 characters (CR and LF encoded, a cut
//   line ending in "="); the last line ends in "=" too, so the decoded text ends where the text
//   does, without a line end of the wire's added;
// - base64: the next 76 characters of the text's Base64 form.
// Pos moves past what was used, and becomes 0 once the text is done.
// REQUIRES: Pos >= 1.
std::string NextTextLine(std::string_view text, int& Pos, TSmtpDefaultEncoding encoding, bool wrap);

// An attachment name as it is written between the double quotes of name="..." and filename="...":
// encoded words (type encType, words of at most 63 columns, folded with fold) when 8-bit bytes are
// not allowed and the name needs encoding; else "\" before every double quote and backslash, CR
// and LF made blanks, and with fold a name longer than 64 cut at blanks into pieces of at most 63
// columns joined by CR LF TAB. Raises rtl::Exception for an unusable charSet when it encodes.
std::string SmtpAttachmentName(std::string_view name, bool allow8bit, bool fold, char encType,
                               std::string_view charSet);

// Appends the part header of an attachment: "--" + boundary, "Content-Type: " + contentType +
// ";", TAB + "name=" + quoted name, "Content-Transfer-Encoding: base64",
// "Content-Disposition: attachment;", TAB + "filename=" + quoted name.
void AddAttachmentPartHeader(std::string_view boundary, std::string_view contentType,
                             std::string_view encodedName, rtl::TStringList& lines);

// Text routines of the mail clients: content type by file extension, Base64 for protocol
// exchanges and attachment bodies, quoted-printable, encoded words for header values, the test
// whether a text needs encoding, the piece scanner that cuts text at break characters, and header
// folding. Everything works on 8-bit byte strings (CP932 text) and keeps no state; all calls are
// safe from any thread. Positions (Pos) count bytes from 1, as the mail clients' text positions
// do; a Pos past the end of the text means the text is done.
#pragma once

#include <bitset>
#include <istream>
#include <memory>
#include <string>
#include <string_view>

#include "rtl/classes.h"
#include "rtl/exception.h"

namespace net::mail {

// A set of byte values.
using TCharSet = std::bitset<256>;

// The set of the bytes of chars.
TCharSet CharSetOf(std::string_view chars);

// An attachment could not be opened ("Cannot open file \"name\". " + system reason).
RTL_DECLARE_EXCEPTION(EFOpenError, rtl::Exception);
// An attachment could not be read after it was opened ("Stream read error").
RTL_DECLARE_EXCEPTION(EReadError, rtl::Exception);

// Open-mode words of OpenAttachmentStream: read access combined with one sharing flag. The sharing
// flags are accepted for the callers' sake; this platform has no sharing modes, so every open is
// a plain read-only open.
constexpr unsigned fmOpenRead = 0x0000;
constexpr unsigned fmShareCompat = 0x0000;
constexpr unsigned fmShareExclusive = 0x0010;
constexpr unsigned fmShareDenyWrite = 0x0020;
constexpr unsigned fmShareDenyRead = 0x0030;
constexpr unsigned fmShareDenyNone = 0x0040;

// The MIME type for a file name, by its extension (letter case ignored): "htm"/"html" ->
// "text/html", "gif" -> "image/gif", "bmp" -> "image/bmp", "jpg"/"jpeg" -> "image/jpeg", "txt" ->
// "text/plain", anything else or no extension -> "application/octet-stream".
std::string ContentTypeOfFile(std::string_view fileName);

// Opens an existing file for reading in binary. The caller owns the stream (see
// CloseAttachmentStream). Raises EFOpenError when the file cannot be opened or is a folder.
std::unique_ptr<std::istream> OpenAttachmentStream(const std::string& fileName, unsigned mode);

// Frees the stream, when there is one, and clears the variable.
void CloseAttachmentStream(std::unique_ptr<std::istream>& stream);

// Reads the next bytes of stream (up to 54) and returns them as one line of Base64 text of at
// most 72 characters, padded at the end of the data. More is set when the last read got 3 bytes,
// so a stream whose remaining length is a multiple of 54 ends with a call that returns "" and
// More false. Raises EReadError when the stream fails to read.
std::string Base64StreamLine(std::istream& stream, bool& More);

// Standard Base64 of all bytes, "=" or "==" padding, no line breaks.
std::string MimeBase64Encode(std::string_view bytes);

// Encodes bytes from Pos in groups of 3 while bytes remain and the text made so far is shorter
// than MaxCol (so with MaxCol a multiple of 4, the text is exactly MaxCol characters except at the
// end); advances Pos by 3 per group. Returns the text.
std::string MimeBase64EncodeSpan(std::string_view bytes, int MaxCol, int& Pos);

// Decodes Base64 text. CR and LF between groups of 4 characters are skipped; a character outside
// the alphabet is not reported (it decodes as garbage); "=" ends a group early. A group of fewer
// than 4 characters (cut by CR, LF or the end of text) is read as if padded: 2 or 3 characters
// give 1 or 2 bytes, a single character gives nothing. Never reads outside text.
std::string MimeBase64Decode(std::string_view text);

// The piece scanner. Starting at Pos (column 1), scans the text and returns the next piece:
// - A CP932 lead byte takes its trail byte with it (two columns).
// - Outside quotes, Delimiter (ASCII case ignored; never found when empty) ends the piece at once;
//   it is removed from the piece.
// - Outside quotes, a byte of Breaks is a break; a byte of Quotes opens a quote that the same
//   byte closes.
// - The scan goes on while a quote is open, and while the next column is within MaxLen or no
//   break has been seen; then the piece is cut after the last break.
// - When the text ends before a cut, the piece is the rest of the text and Pos becomes the
//   largest int. Otherwise Pos is the position after the piece's last byte (after the delimiter).
// So a text of at most MaxLen columns is one piece.
// REQUIRES: Pos >= 1.
std::string NextPiece(std::string_view text, std::string_view Delimiter, const TCharSet& Breaks,
                      int& Pos, const TCharSet& Quotes, int MaxLen);

// True when some byte is not TAB, LF, CR or 0x20..0x7E (an ESC byte counts).
bool NeedsEncoding(std::string_view text);

// Encodes text as encoded words "=?" + lower-case CharSet + "?" + EncType + "?" ... "?=".
// EncType 'B' (Base64) or 'Q' (quoted-printable, where Specials, blank, "=", "?" and "_" are
// encoded and a blank becomes "_"). With DoFold, words are at most MaxCol columns (MaxCol is
// raised to 25 when lower) and joined by CR LF TAB; every word holds at least one group of input
// (3 bytes for B, one byte for Q), so the result always makes progress. Without DoFold the whole
// text is one word. Raises rtl::Exception "Function 'HdrEncodeInLine', invalid CharSet: " +
// CharSet when CharSet is shorter than 4 characters, and "Function 'HdrEncodeInLine', invalid
// EncType: " + EncType for another EncType.
std::string HdrEncodeInLine(std::string_view text, const TCharSet& Specials, char EncType,
                            bool DoFold, int MaxCol, std::string_view CharSet);

// Returns one quoted-printable line of text from Pos and advances Pos past what it holds.
// Bytes 0x20..0x7E that are neither "=" nor in Specials are copied; with SpaceAsUnderscore a
// blank in Specials becomes "_"; every other byte becomes "=" and two upper-case hex digits.
// With DoFold the line is at most MaxLen columns: it ends with a soft break "=" when a copied
// byte would reach column MaxLen or an encoded byte would start at column MaxLen - 2 or later
// (a line always holds at least one input byte). The line that reaches the end of text has no
// soft break. Without DoFold the rest of text is one line.
std::string QpEncodeSpan(std::string_view text, int MaxLen, const TCharSet& Specials, bool DoFold,
                         int& Pos, bool SpaceAsUnderscore);

// Adds a header line to list, folded at TAB, blank, ",", ";", ">" or "]" (and at CR LF TAB
// already in it) into entries of at most 76 columns where breaks allow: the first piece trimmed,
// then each further non-empty piece trimmed behind a TAB. A line of at most 76 columns is one
// entry.
void FoldHdrLine(rtl::TStringList& list, std::string_view line);

// Cuts text as FoldHdrLine does, with the caller's Breaks and MaxLen, and joins the trimmed
// non-empty pieces with CR LF TAB.
std::string FoldHdrValue(std::string_view text, const TCharSet& Breaks, int MaxLen);

}  // namespace net::mail

#include "net/mail/mime.h"

#include <limits>

#include "rtl/cp932.h"
#include "rtl/files.h"
#include "rtl/fs.h"

namespace net::mail {

namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr unsigned kPadMark = 64;
constexpr unsigned kNotBase64 = 255;
constexpr int kLastPos = std::numeric_limits<int>::max();

// Decode table: alphabet characters 0-63, "=" the padding mark, everything else 255. Bytes of
// 0x80 and above are outside the table and count as 255 too.
struct DecodeTable {
  unsigned char v[128];
  constexpr DecodeTable() : v() {
    for (auto& x : v)
      x = kNotBase64;
    for (unsigned i = 0; i < 65; ++i)
      v[static_cast<unsigned char>(kBase64Alphabet[i])] = i;
  }
  unsigned operator()(char c) const {
    unsigned char b = static_cast<unsigned char>(c);
    return b < 128 ? v[b] : kNotBase64;
  }
};
constexpr DecodeTable kDecode;

// Appends the Base64 form of one group of 1 to 3 bytes (4 characters, padded).
void EncodeGroup(std::string& out, std::string_view bytes, size_t i) {
  size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
  unsigned b0 = static_cast<unsigned char>(bytes[i]);
  unsigned b1 = n > 1 ? static_cast<unsigned char>(bytes[i + 1]) : 0;
  unsigned b2 = n > 2 ? static_cast<unsigned char>(bytes[i + 2]) : 0;
  out += kBase64Alphabet[b0 >> 2];
  out += kBase64Alphabet[((b0 & 3) << 4) | (b1 >> 4)];
  out += kBase64Alphabet[n > 1 ? ((b1 & 15) << 2) | (b2 >> 6) : 64];
  out += kBase64Alphabet[n > 2 ? b2 & 63 : 64];
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// True when text begins with prefix, ASCII letter case ignored.
bool StartsText(std::string_view text, std::string_view prefix) {
  if (prefix.size() > text.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (LowerAscii(text[i]) != LowerAscii(prefix[i])) return false;
  return true;
}

constexpr std::string_view kFoldDelimiter = "\r\n\t";

// Cuts text into pieces at Breaks, the trimmed non-empty pieces in order; the first piece is
// kept even when empty.
template <typename Add>
void FoldPieces(std::string_view text, const TCharSet& Breaks, int MaxLen, Add add) {
  const TCharSet noQuotes;
  int pos = 1;
  bool first = true;
  do {
    std::string piece = rtl::Trim(NextPiece(text, kFoldDelimiter, Breaks, pos, noQuotes, MaxLen));
    // A continuation line of blanks alone would read as the empty line that ends the header.
    if (first || !piece.empty()) add(std::move(piece), first);
    first = false;
  } while (pos <= static_cast<int>(text.size()));
}

}  // namespace

TCharSet CharSetOf(std::string_view chars) {
  TCharSet s;
  for (char c : chars)
    s.set(static_cast<unsigned char>(c));
  return s;
}

std::string ContentTypeOfFile(std::string_view fileName) {
  size_t slash = fileName.find_last_of('/');
  std::string_view base = slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
  size_t dot = base.find_last_of('.');
  std::string ext;
  if (dot != std::string_view::npos)
    for (char c : base.substr(dot + 1))
      ext += LowerAscii(c);
  if (ext == "htm" || ext == "html") return "text/html";
  if (ext == "gif") return "image/gif";
  if (ext == "bmp") return "image/bmp";
  if (ext == "jpg" || ext == "jpeg") return "image/jpeg";
  if (ext == "txt") return "text/plain";
  return "application/octet-stream";
}

std::unique_ptr<std::istream> OpenAttachmentStream(const std::string& fileName, unsigned mode) {
  // mode carries only sharing flags besides read access; there is nothing to map them to here.
  auto stream = std::make_unique<rtl::TFileReadStream>();
  if (const int err = stream->Open(fileName); err != 0)
    throw EFOpenError("Cannot open file \"" + fileName + "\". " + rtl::fs::ErrorText(err));
  return stream;
}

void CloseAttachmentStream(std::unique_ptr<std::istream>& stream) {
  stream.reset();
}

std::string Base64StreamLine(std::istream& stream, bool& More) {
  std::string line;
  More = false;
  while (true) {
    char buf[3];
    stream.read(buf, 3);
    size_t n = static_cast<size_t>(stream.gcount());
    if (stream.bad()) throw EReadError("Stream read error");
    More = n == 3;
    if (n == 0) break;
    EncodeGroup(line, std::string_view(buf, n), 0);
    if (line.size() >= 72 || n < 3) break;
  }
  return line;
}

std::string MimeBase64Encode(std::string_view bytes) {
  std::string out;
  out.reserve(4 * ((bytes.size() + 2) / 3));
  for (size_t i = 0; i < bytes.size(); i += 3)
    EncodeGroup(out, bytes, i);
  return out;
}

std::string MimeBase64EncodeSpan(std::string_view bytes, int MaxCol, int& Pos) {
  std::string out;
  if (Pos < 1) Pos = 1;
  while (static_cast<size_t>(Pos) <= bytes.size() && static_cast<int>(out.size()) < MaxCol) {
    EncodeGroup(out, bytes, static_cast<size_t>(Pos) - 1);
    Pos += 3;
  }
  return out;
}

std::string MimeBase64Decode(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3);
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '\r' || text[i] == '\n') {
      ++i;
      continue;
    }
    // A group is 4 characters; a short one (cut by a line break or the end) reads as padded.
    size_t n = 1;
    while (n < 4 && i + n < text.size() && text[i + n] != '\r' && text[i + n] != '\n')
      ++n;
    if (n >= 2) {  // a single character holds less than a byte
      unsigned a = kDecode(text[i]), b = kDecode(text[i + 1]);
      unsigned c = n > 2 ? kDecode(text[i + 2]) : kPadMark;
      unsigned d = n > 3 ? kDecode(text[i + 3]) : kPadMark;
      out += static_cast<char>(((a << 2) | (b >> 4)) & 0xFF);
      if (c != kPadMark) out += static_cast<char>((((b & 15) << 4) | (c >> 2)) & 0xFF);
      if (d != kPadMark) out += static_cast<char>((((c & 3) << 6) | d) & 0xFF);
    }
    i += n;
  }
  return out;
}

std::string NextPiece(std::string_view text, std::string_view Delimiter, const TCharSet& Breaks,
                      int& Pos, const TCharSet& Quotes, int MaxLen) {
  const long len = static_cast<long>(text.size());
  if (Pos < 1) Pos = 1;
  const long start = Pos;
  long pos = Pos;  // wide, so a trail byte past the end cannot overflow
  long lastBreak = 0;
  long col = 1;
  int quote = -1;
  bool delimiterFound = false;
  while (true) {
    if (pos > len) {
      Pos = kLastPos;
      return start <= len ? std::string(text.substr(start - 1)) : std::string();
    }
    unsigned char c = static_cast<unsigned char>(text[pos - 1]);
    if (rtl::IsLeadByte(c)) {
      ++pos;  // the trail byte goes with it
      ++col;
    } else if (quote < 0 && !Delimiter.empty() && StartsText(text.substr(pos - 1), Delimiter)) {
      delimiterFound = true;
      pos += static_cast<long>(Delimiter.size()) - 1;
      lastBreak = pos;
    } else {
      if (quote < 0 && Breaks[c]) lastBreak = pos;
      if (Quotes[c]) {
        if (quote < 0)
          quote = c;
        else if (quote == c)
          quote = -1;
      }
    }
    ++pos;
    ++col;
    if (delimiterFound) break;
    if (quote >= 0) continue;
    if (pos > len) continue;  // the rest fits: it is returned whole
    if (col <= MaxLen || lastBreak == 0) continue;
    break;
  }
  std::string piece(text.substr(start - 1, lastBreak - start + 1));
  if (delimiterFound) piece.resize(piece.size() - Delimiter.size());
  Pos = static_cast<int>(lastBreak + 1);
  return piece;
}

bool NeedsEncoding(std::string_view text) {
  for (char ch : text) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c != '\t' && c != '\n' && c != '\r' && (c < 0x20 || c > 0x7E)) return true;
  }
  return false;
}

std::string HdrEncodeInLine(std::string_view text, const TCharSet& Specials, char EncType,
                            bool DoFold, int MaxCol, std::string_view CharSet) {
  if (DoFold && MaxCol < 25) MaxCol = 25;
  if (CharSet.size() < 4)
    throw rtl::Exception("Function 'HdrEncodeInLine', invalid CharSet: " + std::string(CharSet));
  if (EncType != 'B' && EncType != 'Q')
    throw rtl::Exception("Function 'HdrEncodeInLine', invalid EncType: " + std::string(1, EncType));

  std::string prefix = "=?";
  for (char c : CharSet)
    prefix += LowerAscii(c);
  prefix += '?';
  prefix += EncType;
  prefix += '?';
  const int wordStart = static_cast<int>(prefix.size()) + 2;  // prefix and the closing "?="

  std::string out;
  if (EncType == 'B') {
    out = prefix;
    int col = wordStart;
    bool wordEmpty = true;
    for (size_t i = 0; i < text.size(); i += 3) {
      if (DoFold && !wordEmpty && col + 4 > MaxCol) {
        out += "?=\r\n\t";
        out += prefix;
        col = wordStart;
      }
      EncodeGroup(out, text, i);
      col += 4;
      wordEmpty = false;
    }
    out += "?=";
    return out;
  }

  TCharSet specials = Specials | CharSetOf(" =?_");
  int pos = 1;
  while (static_cast<size_t>(pos) <= text.size()) {
    std::string line = QpEncodeSpan(text, MaxCol - wordStart, specials, DoFold, pos, true);
    if (!line.empty() && line.back() == '=') line.pop_back();
    if (!out.empty()) out += "\r\n\t";
    out += prefix;
    out += line;
    out += "?=";
  }
  return out;
}

std::string QpEncodeSpan(std::string_view text, int MaxLen, const TCharSet& Specials, bool DoFold,
                         int& Pos, bool SpaceAsUnderscore) {
  std::string line;
  if (Pos < 1) Pos = 1;
  while (static_cast<size_t>(Pos) <= text.size()) {
    unsigned char c = static_cast<unsigned char>(text[Pos - 1]);
    const int nextCol = static_cast<int>(line.size()) + 1;
    bool underscore = SpaceAsUnderscore && c == ' ' && Specials[c];
    bool copy = underscore || (c >= 0x20 && c <= 0x7E && c != '=' && !Specials[c]);
    if (DoFold && !line.empty() && nextCol >= (copy ? MaxLen : MaxLen - 2)) {
      line += '=';  // soft break; Pos stays at this byte
      return line;
    }
    if (underscore) {
      line += '_';
    } else if (copy) {
      line += static_cast<char>(c);
    } else {
      line += '=';
      line += kHexDigits[c >> 4];
      line += kHexDigits[c & 15];
    }
    ++Pos;
  }
  return line;
}

void FoldHdrLine(rtl::TStringList& list, std::string_view line) {
  static const TCharSet breaks = CharSetOf("\t ,;>]");
  FoldPieces(line, breaks, 76, [&](std::string piece, bool first) {
    list.Add(first ? std::move(piece) : "\t" + piece);
  });
}

std::string FoldHdrValue(std::string_view text, const TCharSet& Breaks, int MaxLen) {
  std::string out;
  FoldPieces(text, Breaks, MaxLen, [&](std::string piece, bool first) {
    if (!first) out += "\r\n\t";
    out += piece;
  });
  return out;
}

}  // namespace net::mail

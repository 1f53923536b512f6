#include "platform/ui/core/drawtext.h"

#include <vector>

#include "rtl/cp932.h"

namespace {

// Bytes of the character starting at s[i].
size_t CharLen(std::string_view s, size_t i) {
  if (rtl::IsLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < s.size()) return 2;
  return 1;
}

struct Line {
  std::string text;
  int prefix = -1;  // byte index of the underlined character
};

// Splits one paragraph (no line breaks) into lines no wider than width.
void WrapParagraph(const TCanvas& canvas, const Line& para, int width, std::vector<Line>& out) {
  for (const TTextSpan& span : WrapSpans(canvas, para.text, width)) {
    Line l;
    l.text = para.text.substr(span.Start, span.End - span.Start);
    if (para.prefix >= static_cast<int>(span.Start) && para.prefix < static_cast<int>(span.End))
      l.prefix = para.prefix - static_cast<int>(span.Start);
    out.push_back(std::move(l));
  }
}

}  // namespace

std::vector<TTextSpan> WrapSpans(const TCanvas& canvas, std::string_view s, int width) {
  std::vector<TTextSpan> spans;
  size_t start = 0;
  while (start < s.size()) {
    size_t end = start, lastBlank = std::string::npos;
    while (end < s.size()) {
      size_t next = end + CharLen(s, end);
      if (canvas.TextWidth(s.substr(start, next - start)) > width && end > start) break;
      if (s[end] == ' ') lastBlank = end;
      end = next;
    }
    size_t cut = end, resume = end;
    if (end < s.size() && lastBlank != std::string::npos && lastBlank > start) {
      cut = lastBlank;
      resume = lastBlank + 1;
    }
    spans.push_back(TTextSpan{start, cut});
    start = resume;
    while (start < s.size() && s[start] == ' ' && resume == cut + 1)
      ++start;
  }
  if (s.empty()) spans.push_back(TTextSpan{});
  return spans;
}

std::string StripPrefix(std::string_view text, int* prefixPos) {
  std::string out;
  int pos = -1;
  for (size_t i = 0; i < text.size();) {
    size_t n = CharLen(text, i);
    if (n == 1 && text[i] == '&' && i + 1 < text.size()) {
      if (text[i + 1] == '&') {
        out += '&';
        i += 2;
        continue;
      }
      pos = static_cast<int>(out.size());
      ++i;
      continue;
    }
    out.append(text.substr(i, n));
    i += n;
  }
  if (prefixPos) *prefixPos = pos;
  return out;
}

char AcceleratorOf(std::string_view caption) {
  int pos = -1;
  std::string plain = StripPrefix(caption, &pos);
  if (pos < 0 || pos >= static_cast<int>(plain.size())) return 0;
  unsigned char c = static_cast<unsigned char>(plain[pos]);
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return static_cast<char>(c);
  return 0;
}

std::string EllipsisText(const TCanvas& canvas, std::string_view text, int width) {
  if (canvas.TextWidth(text) <= width) return std::string(text);
  size_t best = 0;
  for (size_t i = 0; i < text.size();) {
    size_t next = i + CharLen(text, i);
    std::string candidate = std::string(text.substr(0, next)) + "...";
    if (canvas.TextWidth(candidate) > width) break;
    best = next;
    i = next;
  }
  return std::string(text.substr(0, best)) + "...";
}

std::string PathEllipsisText(const TCanvas& canvas, std::string_view path, int width) {
  if (canvas.TextWidth(path) <= width) return std::string(path);
  // The last "\" that is a character of its own, found walking whole characters.
  size_t last = std::string::npos;
  for (size_t i = 0; i < path.size(); i += CharLen(path, i))
    if (path[i] == '\\') last = i;
  if (last == std::string::npos) return EllipsisText(canvas, path, width);
  const std::string tail = "..." + std::string(path.substr(last));
  if (canvas.TextWidth(tail) > width) return EllipsisText(canvas, path, width);
  size_t best = 0;
  for (size_t i = 0; i < last;) {
    const size_t next = i + CharLen(path, i);
    if (canvas.TextWidth(std::string(path.substr(0, next)) + tail) > width) break;
    best = next;
    i = next;
  }
  return std::string(path.substr(0, best)) + tail;
}

int DrawText(TCanvas* canvas, std::string_view text, TRect& rect, UINT format) {
  // Paragraphs, each with its prefix.
  std::vector<Line> paragraphs;
  auto addParagraph = [&](std::string_view p) {
    Line l;
    if (format & DT_NOPREFIX) {
      l.text = std::string(p);
    } else {
      l.text = StripPrefix(p, &l.prefix);
    }
    paragraphs.push_back(std::move(l));
  };
  if (format & DT_SINGLELINE) {
    addParagraph(text);
  } else {
    size_t start = 0;
    for (size_t i = 0; i < text.size();) {
      if (text[i] == '\r' || text[i] == '\n') {
        addParagraph(text.substr(start, i - start));
        i += (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
        start = i;
        continue;
      }
      i += CharLen(text, i);
    }
    addParagraph(text.substr(start));
  }

  const int width = rect.Width();
  std::vector<Line> lines;
  for (auto& p : paragraphs) {
    if ((format & DT_WORDBREAK) && !(format & DT_SINGLELINE) && width > 0) {
      WrapParagraph(*canvas, p, width, lines);
    } else {
      lines.push_back(p);
    }
  }
  if (format & (DT_END_ELLIPSIS | DT_PATH_ELLIPSIS)) {
    for (auto& l : lines) {
      std::string cut = (format & DT_PATH_ELLIPSIS) ? PathEllipsisText(*canvas, l.text, width)
                                                    : EllipsisText(*canvas, l.text, width);
      if (cut != l.text) {
        // The underline stays only on a character kept before an end ellipsis.
        if ((format & DT_PATH_ELLIPSIS) || l.prefix >= static_cast<int>(cut.size()) - 3)
          l.prefix = -1;
        l.text = std::move(cut);
      }
    }
  }

  const int lineHeight = canvas->TextHeight("Wg");
  const int total = lineHeight * static_cast<int>(lines.size());
  if (format & DT_CALCRECT) {
    int widest = 0;
    for (auto& l : lines)
      widest = std::max(widest, canvas->TextWidth(l.text));
    rect.Right = rect.Left + widest;
    rect.Bottom = rect.Top + total;
    return total;
  }

  int y = rect.Top;
  if (format & DT_VCENTER) {
    y = rect.Top + (rect.Height() - total) / 2;
  } else if (format & DT_BOTTOM) {
    y = rect.Bottom - total;
  }
  const bool clip = !(format & DT_NOCLIP);
  TRect savedClip = canvas->ClipRect();
  if (clip) canvas->SetClipRect(IntersectRect(savedClip, rect));
  TBrush savedBrush;
  savedBrush.Assign(*canvas->Brush());
  canvas->Brush()->SetStyle(bsClear);
  for (auto& l : lines) {
    int w = canvas->TextWidth(l.text);
    int x = rect.Left;
    if (format & DT_CENTER) {
      x = rect.Left + (width - w) / 2;
    } else if (format & DT_RIGHT) {
      x = rect.Right - w;
    }
    canvas->TextOut(x, y, l.text);
    if (l.prefix >= 0 && l.prefix < static_cast<int>(l.text.size())) {
      std::string_view s = l.text;
      int ux = x + canvas->TextWidth(s.substr(0, l.prefix));
      int uw = canvas->TextWidth(s.substr(l.prefix, CharLen(s, l.prefix)));
      TPen saved;
      saved.Assign(*canvas->Pen());
      canvas->Pen()->SetColor(canvas->Font()->Color());
      canvas->Pen()->SetWidth(1);
      canvas->Pen()->SetStyle(psSolid);
      canvas->MoveTo(ux, y + lineHeight - 1);
      canvas->LineTo(ux + uw, y + lineHeight - 1);
      canvas->SetPen(saved);
    }
    y += lineHeight;
  }
  canvas->SetBrush(savedBrush);
  if (clip) canvas->SetClipRect(savedClip);
  return total;
}

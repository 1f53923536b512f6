#include "console/images.h"

#include <algorithm>
#include <cstdlib>

namespace console {

namespace {

constexpr int kSize = 16;
constexpr uint32_t kClear = 0x00000000u;
constexpr uint32_t kBlack = 0xFF000000u;
constexpr uint32_t kWhite = 0xFFFFFFFFu;

class TPicture {
 public:
  TPicture() : b_(kSize, kSize, kClear) {}
  void Fill(int x0, int y0, int x1, int y1, uint32_t c) {
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x)
        Set(x, y, c);
  }
  void Frame(int x0, int y0, int x1, int y1, uint32_t c) {
    for (int x = x0; x <= x1; ++x) {
      Set(x, y0, c);
      Set(x, y1, c);
    }
    for (int y = y0; y <= y1; ++y) {
      Set(x0, y, c);
      Set(x1, y, c);
    }
  }
  void Disc(int cx, int cy, int r, uint32_t fill, uint32_t edge) {
    for (int y = cy - r; y <= cy + r; ++y)
      for (int x = cx - r; x <= cx + r; ++x) {
        const int d = (x - cx) * (x - cx) + (y - cy) * (y - cy);
        if (d <= r * r) Set(x, y, d >= (r - 1) * (r - 1) ? edge : fill);
      }
  }
  void Line(int x0, int y0, int x1, int y1, uint32_t c) {
    const int n = std::max(std::abs(x1 - x0), std::abs(y1 - y0));
    for (int i = 0; i <= n; ++i)
      Set(x0 + (x1 - x0) * i / (n ? n : 1), y0 + (y1 - y0) * i / (n ? n : 1), c);
  }
  void Set(int x, int y, uint32_t c) {
    if (x >= 0 && y >= 0 && x < kSize && y < kSize) b_.SetPixel(x, y, c);
  }
  TBitmap Done() const { return b_; }

 private:
  TBitmap b_;
};

TBitmap Save() {  // a floppy disk
  TPicture p;
  p.Fill(1, 1, 14, 14, 0xFF2050A0u);
  p.Frame(1, 1, 14, 14, 0xFF102850u);
  p.Fill(4, 2, 11, 6, 0xFFE0E0E0u);
  p.Fill(9, 3, 10, 5, 0xFF2050A0u);
  p.Fill(3, 9, 12, 14, kWhite);
  p.Line(4, 11, 11, 11, 0xFF808080u);
  return p.Done();
}

TBitmap Unused() {  // a sheet
  TPicture p;
  p.Fill(3, 1, 12, 14, kWhite);
  p.Frame(3, 1, 12, 14, 0xFF606060u);
  return p.Done();
}

TBitmap Version() {  // an "i" in a blue disc
  TPicture p;
  p.Disc(7, 7, 7, 0xFF3070D0u, 0xFF103070u);
  p.Fill(7, 3, 8, 4, kWhite);
  p.Fill(7, 6, 8, 11, kWhite);
  return p.Done();
}

TBitmap Help() {  // a "?" in a yellow disc
  TPicture p;
  p.Disc(7, 7, 7, 0xFFF0C020u, 0xFF806000u);
  p.Line(5, 4, 9, 4, kBlack);
  p.Line(10, 5, 10, 6, kBlack);
  p.Line(9, 7, 8, 8, kBlack);
  p.Line(8, 9, 8, 9, kBlack);
  p.Fill(8, 11, 8, 12, kBlack);
  p.Set(4, 5, kBlack);
  return p.Done();
}

TBitmap Close() {  // a red cross
  TPicture p;
  p.Fill(1, 1, 14, 14, 0xFFD03030u);
  p.Frame(1, 1, 14, 14, 0xFF701010u);
  for (int d = 0; d < 2; ++d) {
    p.Line(4 + d, 4, 11 + d, 11, kWhite);
    p.Line(11 + d, 4, 4 + d, 11, kWhite);
  }
  return p.Done();
}

TBitmap Monitor(int x, int y, uint32_t screen) {
  TPicture p;
  p.Fill(x, y, x + 11, y + 8, 0xFF404040u);
  p.Fill(x + 1, y + 1, x + 10, y + 7, screen);
  p.Fill(x + 5, y + 9, x + 6, y + 10, 0xFF404040u);
  p.Fill(x + 3, y + 11, x + 8, y + 11, 0xFF404040u);
  return p.Done();
}

TBitmap Root() {  // two screens
  TPicture p;
  p.Fill(0, 0, 9, 7, 0xFF404040u);
  p.Fill(1, 1, 8, 6, 0xFF80C0F0u);
  p.Fill(5, 4, 15, 12, 0xFF404040u);
  p.Fill(6, 5, 14, 11, 0xFF3080E0u);
  p.Fill(9, 13, 11, 13, 0xFF404040u);
  p.Fill(7, 14, 13, 14, 0xFF404040u);
  return p.Done();
}

TBitmap Console() {  // a table
  TPicture p;
  p.Fill(1, 2, 14, 13, kWhite);
  p.Frame(1, 2, 14, 13, 0xFF404040u);
  p.Fill(2, 3, 13, 4, 0xFF3070D0u);
  for (int y = 7; y < 13; y += 3)
    p.Line(2, y, 13, y, 0xFFA0A0A0u);
  p.Line(6, 5, 6, 12, 0xFFA0A0A0u);
  return p.Done();
}

TBitmap Envelope(uint32_t paper) {
  TPicture p;
  p.Fill(1, 3, 14, 12, paper);
  p.Frame(1, 3, 14, 12, 0xFF605030u);
  p.Line(1, 3, 7, 8, 0xFF605030u);
  p.Line(14, 3, 8, 8, 0xFF605030u);
  return p.Done();
}

TBitmap MailEnv() {  // an envelope with a green server box
  TPicture p;
  TBitmap e = Envelope(0xFFF8F0D0u);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x)
      if (e.Pixel(x, y) >> 24) p.Set(x, y, e.Pixel(x, y));
  p.Fill(9, 8, 15, 15, 0xFF30A040u);
  p.Frame(9, 8, 15, 15, 0xFF105020u);
  p.Line(10, 11, 14, 11, kWhite);
  return p.Done();
}

}  // namespace

std::vector<TBitmap> ToolBarImages() {
  return {Save(), Unused(), Version(), Help(), Close()};
}

std::vector<TBitmap> TreeImages() {
  return {Root(), Monitor(2, 2, 0xFF3080E0u)};
}

std::vector<TBitmap> PageImages() {
  return {Console(), Envelope(0xFFF8F0D0u), MailEnv()};
}

}  // namespace console

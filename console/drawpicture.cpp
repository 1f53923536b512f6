// drawpicture: draws the console's product picture (480 x 270, the splash's and the version
// window's) and writes it as a C++ source holding its JPEG bytes, which the console is built
// with. Run by the build: drawpicture <output.cpp>. The picture is made here, pixel by pixel:
// a night-blue gradient, a lens-shaped mark and the product name in a 5 x 7 dot font.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace {

constexpr int kWidth = 480;
constexpr int kHeight = 270;
constexpr int kQuality = 90;

struct Rgb {
  unsigned char r, g, b;
};

class Canvas {
 public:
  Canvas() : pixels_(static_cast<size_t>(kWidth) * kHeight) {}
  void Set(int x, int y, Rgb c) {
    if (x >= 0 && x < kWidth && y >= 0 && y < kHeight)
      pixels_[static_cast<size_t>(y) * kWidth + x] = c;
  }
  void Fill(int x0, int y0, int x1, int y1, Rgb c) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x)
        Set(x, y, c);
  }
  const std::vector<Rgb>& Pixels() const { return pixels_; }

 private:
  std::vector<Rgb> pixels_;
};

// The dot font: seven rows of five columns, the top bit the left column.
struct Glyph {
  char ch;
  unsigned char rows[7];
};
constexpr Glyph kGlyphs[] = {
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'D', {0x1E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1E}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'N', {0x11, 0x19, 0x15, 0x13, 0x11, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {' ', {0, 0, 0, 0, 0, 0, 0}},
};

const Glyph* Find(char ch) {
  for (const Glyph& g : kGlyphs)
    if (g.ch == ch) return &g;
  return nullptr;
}

// Draws text with its top left at x, y, each dot a square of scale pixels.
void Text(Canvas& c, int x, int y, const char* text, int scale, Rgb color) {
  for (; *text; ++text, x += 6 * scale) {
    const Glyph* g = Find(*text);
    if (!g) continue;
    for (int row = 0; row < 7; ++row)
      for (int col = 0; col < 5; ++col)
        if (g->rows[row] & (0x10 >> col))
          c.Fill(x + col * scale, y + row * scale, x + (col + 1) * scale, y + (row + 1) * scale,
                 color);
  }
}

int TextWidth(const char* text, int scale) {
  return static_cast<int>(std::strlen(text)) * 6 * scale - scale;
}

void Draw(Canvas& c) {
  // Night blue at the top to teal at the bottom.
  for (int y = 0; y < kHeight; ++y) {
    const int t = y * 255 / (kHeight - 1);
    const Rgb row{static_cast<unsigned char>(16 + t / 16), static_cast<unsigned char>(32 + t / 3),
                  static_cast<unsigned char>(72 + t / 4)};
    c.Fill(0, y, kWidth, y + 1, row);
  }
  // The mark: a lens (two arcs) with a pupil, on the left.
  const int cx = 96, cy = 112;
  for (int y = cy - 48; y <= cy + 48; ++y)
    for (int x = cx - 72; x <= cx + 72; ++x) {
      const double dx = x - cx, dy = y - cy;
      // Inside both circles of radius 90 whose centres lie 54 above and below.
      const double up = dx * dx + (dy - 54) * (dy - 54), down = dx * dx + (dy + 54) * (dy + 54);
      const double pupil = dx * dx + dy * dy;
      if (pupil <= 20 * 20)
        c.Set(x, y, Rgb{20, 36, 60});
      else if (pupil <= 34 * 34)
        c.Set(x, y, Rgb{64, 200, 220});
      else if (up <= 90 * 90 && down <= 90 * 90)
        c.Set(x, y, Rgb{236, 244, 250});
    }
  // A light band under the name.
  c.Fill(0, 196, kWidth, 200, Rgb{64, 200, 220});
  const Rgb white{250, 250, 250};
  Text(c, 190, 78, "KELVADON", 5, white);
  Text(c, 190, 132, "MANAGER", 4, Rgb{180, 230, 240});
  const char* version = "VER1.36";
  Text(c, kWidth - 24 - TextWidth(version, 3), 222, version, 3, white);
}

bool WriteJpeg(const Canvas& c, std::vector<unsigned char>& out) {
  jpeg_compress_struct info;
  jpeg_error_mgr err;
  info.err = jpeg_std_error(&err);  // the default manager ends the program: fine for a tool
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = kWidth;
  info.image_height = kHeight;
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, kQuality, TRUE);
  jpeg_start_compress(&info, TRUE);
  std::vector<unsigned char> row(kWidth * 3);
  while (info.next_scanline < info.image_height) {
    for (int x = 0; x < kWidth; ++x) {
      const Rgb p = c.Pixels()[static_cast<size_t>(info.next_scanline) * kWidth + x];
      row[x * 3] = p.r;
      row[x * 3 + 1] = p.g;
      row[x * 3 + 2] = p.b;
    }
    unsigned char* rows[] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  out.assign(buffer, buffer + size);
  jpeg_destroy_compress(&info);
  std::free(buffer);
  return !out.empty();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: drawpicture <output.cpp>\n");
    return 2;
  }
  Canvas canvas;
  Draw(canvas);
  std::vector<unsigned char> jpeg;
  if (!WriteJpeg(canvas, jpeg)) return 1;
  std::string src =
      "// Made by console/drawpicture.cpp at build time: the product picture's JPEG bytes.\n"
      "#include \"console/picture.h\"\n\n"
      "namespace {\nconst unsigned char kJpeg[] = {";
  for (size_t i = 0; i < jpeg.size(); ++i) {
    if (i % 16 == 0) src += "\n   ";
    char hex[8];
    std::snprintf(hex, sizeof hex, " 0x%02x,", jpeg[i]);
    src += hex;
  }
  src +=
      "\n};\n}  // namespace\n\n"
      "std::string_view console::ProductPictureJpeg() {\n"
      "  return {reinterpret_cast<const char*>(kJpeg), sizeof kJpeg};\n}\n";
  std::FILE* f = std::fopen(argv[1], "wb");
  if (!f) {
    std::perror(argv[1]);
    return 1;
  }
  const bool ok = std::fwrite(src.data(), 1, src.size(), f) == src.size();
  return std::fclose(f) == 0 && ok ? 0 : 1;
}

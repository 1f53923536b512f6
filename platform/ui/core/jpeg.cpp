// JPEG reading with libjpeg and an error manager of our own: the library's default one ends the
// process on a broken file. Errors jump back to DecodeJpeg (setjmp), which holds no object with
// a destructor between the setjmp and the library calls.
#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

#include "platform/ui/core/extctrls.h"
#include "rtl/files.h"

namespace {

struct ErrorManager {
  jpeg_error_mgr base;
  jmp_buf jump;
  char text[JMSG_LENGTH_MAX];
};

void OnError(j_common_ptr info) {
  auto* err = reinterpret_cast<ErrorManager*>(info->err);
  info->err->format_message(info, err->text);
  longjmp(err->jump, 1);
}

// Warnings (a corrupt but readable stream) are ignored; a cut stream ends with an error.
void OnMessage(j_common_ptr, int) {}

// The decoding itself; rows receives width * height RGB pixels.
bool Decode(const std::string& data, int& width, int& height, std::vector<unsigned char>& rows,
            ErrorManager& err) {
  jpeg_decompress_struct info;
  info.err = jpeg_std_error(&err.base);
  err.base.error_exit = OnError;
  err.base.emit_message = OnMessage;
  err.text[0] = 0;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.data()),
               static_cast<unsigned long>(data.size()));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  width = static_cast<int>(info.output_width);
  height = static_cast<int>(info.output_height);
  rows.resize(static_cast<size_t>(width) * height * 3);
  while (info.output_scanline < info.output_height) {
    unsigned char* row = rows.data() + static_cast<size_t>(info.output_scanline) * width * 3;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

}  // namespace

bool DecodeJpeg(const std::string& data, TBitmap& out, std::string* error) {
  out = TBitmap();
  if (data.empty()) {
    if (error) *error = "Empty file";
    return false;
  }
  ErrorManager err;
  std::vector<unsigned char> rows;
  int width = 0, height = 0;
  if (!Decode(data, width, height, rows, err)) {
    if (error) *error = err.text;
    return false;
  }
  out.SetSize(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const unsigned char* p = &rows[(static_cast<size_t>(y) * width + x) * 3];
      out.SetPixel(x, y, 0xFF000000u | (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2]);
    }
  return true;
}

void TPicture::LoadFromFile(const std::string& fileName) {
  bitmap_ = TBitmap();
  std::string data;
  int e = rtl::ReadWholeFile(fileName, data);
  if (e != 0) throw rtl::EInOutError("Cannot open file \"" + fileName + "\"", e);
  std::string error;
  if (!DecodeJpeg(data, bitmap_, &error))
    throw EInvalidGraphic("Cannot read the picture \"" + fileName + "\": " + error);
}

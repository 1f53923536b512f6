#include "platform/ui/fltk/png.h"

#include <png.h>

#include <vector>

namespace fltkpeer {

bool WritePng(const TBitmap& picture, const std::string& path, std::string* error) {
  if (picture.Empty()) {
    *error = "empty picture";
    return false;
  }
  std::vector<png_byte> rgb;
  rgb.reserve(picture.Pixels().size() * 3);
  for (uint32_t argb : picture.Pixels()) {
    rgb.push_back(static_cast<png_byte>(argb >> 16));
    rgb.push_back(static_cast<png_byte>(argb >> 8));
    rgb.push_back(static_cast<png_byte>(argb));
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(picture.Width());
  image.height = static_cast<png_uint_32>(picture.Height());
  image.format = PNG_FORMAT_RGB;
  if (!png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr)) {
    *error = path + ": " + image.message;
    png_image_free(&image);
    return false;
  }
  return true;
}

bool ReadPng(const std::string& path, TBitmap* picture, std::string* error) {
  *picture = TBitmap();
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) {
    *error = path + ": " + image.message;
    return false;
  }
  image.format = PNG_FORMAT_RGB;
  std::vector<png_byte> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) {
    *error = path + ": " + image.message;
    png_image_free(&image);
    return false;
  }
  int w = static_cast<int>(image.width), h = static_cast<int>(image.height);
  picture->SetSize(w, h);
  const png_byte* p = rgb.data();
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x, p += 3)
      picture->SetPixel(x, y, 0xFF000000u | (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2]);
  return true;
}

}  // namespace fltkpeer

#include "console/picture.h"

#include <string>

#include "platform/ui/core/extctrls.h"

namespace console {

bool ShowPicture(TImage& image, std::string_view jpeg) {
  image.SetBounds(0, 0, kPictureWidth, kPictureHeight);
  TBitmap bitmap;
  const bool decoded = DecodeJpeg(std::string(jpeg), bitmap, nullptr);
  image.Picture()->SetBitmap(bitmap);
  image.PictureChanged();
  return decoded;
}

}  // namespace console

#include "console/picture.h"

#include <string>

#include "platform/ui/core/extctrls.h"
#include "platform/ui/core/forms.h"

namespace console {

bool ShowPicture(TImage& image, std::string_view jpeg) {
  image.SetBounds(0, 0, kPictureWidth, kPictureHeight);
  TBitmap bitmap;
  const bool decoded = DecodeJpeg(std::string(jpeg), bitmap, nullptr);
  image.Picture()->SetBitmap(bitmap);
  image.PictureChanged();
  return decoded;
}

TImage* MakePictureWindow(TForm& form, const char* fontName) {
  form.SetBorderStyle(bsNone);
  form.BorderIcons = {};
  form.Font()->SetName(fontName);
  form.Font()->SetHeight(-12);
  form.Font()->SetCharset(SHIFTJIS_CHARSET);
  auto* image = new TImage(&form);
  image->Name = "Image1";
  image->SetParent(&form);
  ShowPicture(*image, ProductPictureJpeg());
  form.SetClientWidth(kPictureWidth);
  form.SetClientHeight(kPictureHeight);
  return image;
}

}  // namespace console

#include "console/frmsplash.h"

#include "console/pagetexts.h"
#include "console/picture.h"
#include "console/program.h"
#include "platform/ui/core/application.h"

TFrmBrindlework::TFrmBrindlework(rtl::TComponent* Owner) : TForm(Owner) {
  Name = "FrmBrindlework";
  SetBorderStyle(bsNone);
  BorderIcons = {};
  Position = poDesktopCenter;
  Font()->SetName(console::text::kSplashFontName);
  Font()->SetHeight(-12);
  Font()->SetCharset(SHIFTJIS_CHARSET);
  Image1 = new TImage(this);
  Image1->Name = "Image1";
  Image1->SetParent(this);
  console::ShowPicture(*Image1, console::ProductPictureJpeg());
  SetClientWidth(console::kPictureWidth);
  SetClientHeight(console::kPictureHeight);
  OnCreate = [this](rtl::TObject* s) { FormCreate(s); };
}

TFrmBrindlework::~TFrmBrindlework() {
  if (FrmSplash == this) FrmSplash = nullptr;
}

void TFrmBrindlework::FormCreate(rtl::TObject* Sender) {
  Screen->SetCursor(crHourGlass);
  SetCaption(Application->Title);
}

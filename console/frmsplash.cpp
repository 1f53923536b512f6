#include "console/frmsplash.h"

#include "console/pagetexts.h"
#include "console/picture.h"
#include "console/program.h"
#include "platform/ui/core/application.h"

TFrmBrindlework::TFrmBrindlework(rtl::TComponent* Owner) : TForm(Owner) {
  Name = "FrmBrindlework";
  Position = poDesktopCenter;
  Image1 = console::MakePictureWindow(*this, console::text::kSplashFontName);
  OnCreate = [this](rtl::TObject* s) { FormCreate(s); };
}

TFrmBrindlework::~TFrmBrindlework() {
  if (FrmSplash == this) FrmSplash = nullptr;
}

void TFrmBrindlework::FormCreate(rtl::TObject* Sender) {
  Screen->SetCursor(crHourGlass);
  SetCaption(Application->Title);
}

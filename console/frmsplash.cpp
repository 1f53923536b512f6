#include "console/frmsplash.h"

TFrmSplash::TFrmSplash(rtl::TComponent* Owner) : TForm(Owner) {
  Name = "FrmSplash";
  SetBorderStyle(bsNone);
  Position = poScreenCenter;
  SetWidth(400);
  SetHeight(250);
}

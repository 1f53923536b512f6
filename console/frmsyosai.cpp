#include "console/frmsyosai.h"

TFrmSyosai* FrmSyosai = nullptr;

TFrmSyosai::TFrmSyosai(rtl::TComponent* Owner) : TForm(Owner) {
  Name = "FrmSyosai";
  FrmSyosai = this;
}

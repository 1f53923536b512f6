#include "console/frmversion.h"

#include "console/frmwatch.h"

TFrmVersion* FrmVersion = nullptr;

TFrmVersion::TFrmVersion(rtl::TComponent* Owner) : TForm(Owner) {
  Name = "FrmVersion";
  FrmVersion = this;
}

// The main window's handlers for the version and help.
void TFrmWatch::BtnVersionClick(rtl::TObject* Sender) {}

void TFrmWatch::BtnHelpClick(rtl::TObject* Sender) {}

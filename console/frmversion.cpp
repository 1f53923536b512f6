#include "console/frmversion.h"

#include "console/frmwatch.h"
#include "console/picture.h"
#include "console/texts.h"
#include "platform/win/shell.h"

TFrmVersion* FrmVersion = nullptr;

TFrmVersion::TFrmVersion(rtl::TComponent* Owner) : TForm(Owner) {
  Name = "FrmVersion";
  SetCaption("Kelvadon Manager Version");
  Position = poScreenCenter;
  Image1 = console::MakePictureWindow(*this, console::text::kFontName);
  Image1->AutoSize = true;
  Image1->OnClick = [this](rtl::TObject* s) { Image1Click(s); };
  FrmVersion = this;
}

TFrmVersion::~TFrmVersion() {
  if (FrmVersion == this) FrmVersion = nullptr;
}

bool TFrmVersion::ShowPicture(std::string_view jpeg) {
  return console::ShowPicture(*Image1, jpeg);
}

void TFrmVersion::Image1Click(rtl::TObject* Sender) {
  Close();
}

// ---- the main window's commands ----

void TFrmWatch::BtnVersionClick(rtl::TObject* Sender) {
  if (FrmVersion) FrmVersion->ShowModal();
}

void TFrmWatch::BtnHelpClick(rtl::TObject* Sender) {
  // Without a browser nothing happens and nothing is said: the result is not looked at.
  ShellExecuteA(Handle(), "Open", console::kHelpAddress, nullptr, nullptr, SW_SHOWNORMAL);
}

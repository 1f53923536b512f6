// The mail settings pages TabMail and TamMailEnv. Stubs until that step:
// the pages exist (frmwatch.cpp) and stay empty.
#include "console/frmwatch.h"

void TFrmWatch::BuildMailPages() {}

void TFrmWatch::InitSettingsPage() {}

void TFrmWatch::LoadSettings() {}

void TFrmWatch::BtnSaveClick(rtl::TObject* Sender) {}

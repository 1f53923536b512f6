#include "console/program.h"

#include "console/frmsplash.h"
#include "console/frmsyosai.h"
#include "console/frmversion.h"
#include "console/frmwatch.h"
#include "console/texts.h"

TFrmBrindlework* FrmSplash = nullptr;

void ShowSplash() {
  if (!FrmSplash) return;
  FrmSplash->Show();
  FrmSplash->Update();
}

void HideSplash() {
  if (FrmSplash) FrmSplash->Hide();
}

void CloseSplash() {
  if (!FrmSplash) return;
  TFrmBrindlework* splash = FrmSplash;
  FrmSplash = nullptr;
  splash->Hide();
  splash->Close();
  splash->Release();
}

bool CreateKelvadonMan(TApplication& App) {
  App.Title = console::text::kTitle;
  App.UpdateMetricSettings = false;
  try {
    auto* splash = new TFrmBrindlework(&App);
    splash->AfterConstruction();
    FrmSplash = splash;
    ShowSplash();
    App.CreateForm(FrmWatch);
    App.CreateForm(FrmSyosai);
    App.CreateForm(FrmVersion);
  } catch (...) {
    // A form that cannot even be made (its settings file cannot be read): what the run-time
    // shows of an exception that leaves the program's start, and the end.
    App.HandleException();
    App.Terminate();
    return false;
  }
  return true;
}

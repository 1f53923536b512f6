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

void CreateKelvadonMan(TApplication& App) {
  App.Title = console::text::kTitle;
  App.UpdateMetricSettings = false;
  auto* splash = new TFrmBrindlework(&App);
  splash->AfterConstruction();
  FrmSplash = splash;
  ShowSplash();
  App.CreateForm(FrmWatch);
  App.CreateForm(FrmSyosai);
  App.CreateForm(FrmVersion);
}

void RunKelvadonMan(TApplication& App) {
  CreateKelvadonMan(App);
  App.Run();
}

// The record viewer on TabAdmin: the day chooser, the host tree, the record
// grid and the live insertion. Stubs until that step: the page's controls exist (frmwatch.cpp),
// nothing fills them yet.
#include "console/frmwatch.h"

void TFrmWatch::WireViewer() {}

std::string TFrmWatch::LogFileName(int DaysBack) {
  return std::string();
}

void TFrmWatch::LoadLogFile(const std::string& Path, const std::string& Host) {}

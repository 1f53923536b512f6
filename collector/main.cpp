// KelvadonService: the collector, run as the service "KelvadonManager".
#include "collector/kelvadon.h"

int main(int argc, char** argv) {
  Application().Initialize(argc, argv);
  Application().Title = "KelvadonService Ver1.35";
  Application().CreateForm(KelvadonManager);
  return Application().Run();
}

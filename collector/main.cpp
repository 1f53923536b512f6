// KelvadonService: the collector, run as the service "KelvadonManager".
#include <csignal>

#include "collector/kelvadon.h"

int main(int argc, char** argv) {
  // A file-size limit makes a write fail ("Disk full", an error event) instead of killing the
  // collector.
  std::signal(SIGXFSZ, SIG_IGN);
  Application().Initialize(argc, argv);
  Application().Title = "KelvadonService Ver1.35";
  Application().CreateForm(KelvadonManager);
  return Application().Run();
}

// KelvadonService: the collector, run as the service "KelvadonManager".
#include <csignal>

#include "collector/kelvadon.h"
#include "rtl/fs.h"

int main(int argc, char** argv) {
  // A file-size limit makes a write fail ("Disk full", an error event) instead of killing the
  // collector.
  std::signal(SIGXFSZ, SIG_IGN);
  // A service starts with the usual soft limit of 1024 descriptors; agents may hold more
  // connections than that.
  rtl::fs::RaiseDescriptorLimit();
  // The day files are shared with a console run by a member of the program folder's group.
  rtl::fs::UseSharedFileMask();
  Application().Initialize(argc, argv);
  Application().Title = "KelvadonService Ver1.35";
  Application().CreateForm(KelvadonManager);
  return Application().Run();
}

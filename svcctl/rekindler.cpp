// Rekindler: restarts the collector service. No arguments, no window; exit code 0 or 1.
#include "svcctl/rekindlerunit.h"

int main() {
  return RestartMain();
}

// Writes data/records.log anew: make_records_fixture <output file>.
#include <cstdio>

#include "rtl/files.h"
#include "tests/console/controls/records_fixture.h"
#include "tests/support/files.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_records_fixture <output file>\n");
    return 2;
  }
  testsupport::TempDir dir("records");
  rtl::ForceDirectories(dir.File("RecvData"));
  const std::string written = controlstest::WriteFixture(dir.path() + "/");
  if (rtl::WriteFileAtomic(argv[1], testsupport::ReadFile(written)) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}

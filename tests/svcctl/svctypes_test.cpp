// The service manager's mappings over raw system numbers, including those scmd itself refuses.
#include "svcctl/svctypes.h"

#include <gtest/gtest.h>

namespace {

using namespace ntsvc;

TEST(ServiceMappings, ReadAndWriteAsTheTablesSay) {
  struct StartCase {
    DWORD raw;
    TStartType read;
  };
  for (const StartCase& c : {StartCase{0, BOOT_START},
                             {1, SYSTEM_START},
                             {2, AUTO_START},
                             {3, DEMAND_START},
                             {4, DISABLED},
                             {9, DISABLED}})
    EXPECT_EQ(StartTypeFromSystem(c.raw), c.read) << c.raw;
  EXPECT_EQ(StartTypeToSystem(BOOT_START), 0u);
  EXPECT_EQ(StartTypeToSystem(DISABLED), 4u);
  EXPECT_EQ(StartTypeToSystem(AUTO_START), 2u);

  struct ErrorCase {
    DWORD raw;
    TErrorType read;
  };
  for (const ErrorCase& c : {ErrorCase{0, ERROR_IGNORE},
                             {1, ERROR_NORMAL},
                             {2, ERROR_SEVERE},
                             {3, ERROR_CRITICAL},
                             {7, ERROR_NORMAL}})
    EXPECT_EQ(ErrorTypeFromSystem(c.raw), c.read) << c.raw;
  EXPECT_EQ(ErrorTypeToSystem(ERROR_CRITICAL), 3u);

  // Unknown type bits (0x40, 0x200, high bits) are dropped both ways.
  const TServiceTypes types = ServiceTypesFromSystem(0x110 | 0x40 | 0x200 | 0x80000000);
  EXPECT_EQ(types, (TServiceTypes{WIN32_OWN_PROCESS, INTERACTIVE_PROCESS}));
  EXPECT_EQ(ServiceTypesToSystem(types), 0x110u);
  EXPECT_EQ(ServiceTypesToSystem(TServiceTypes{KERNEL_DRIVER, RECOGNIZER_DRIVER}), 0x9u);

  struct StateCase {
    DWORD raw;
    TServiceState read;
  };
  for (const StateCase& c : {StateCase{1, STOPPED},
                             {2, START_PENDING},
                             {4, RUNNING},
                             {7, PAUSED},
                             {0, STOPPED},
                             {8, STOPPED},
                             {0xFFFFFFFF, STOPPED}})
    EXPECT_EQ(ServiceStateFromSystem(c.raw), c.read) << c.raw;

  EXPECT_EQ(ServiceControlsFromSystem(0x1 | 0x4 | 0x10),
            (TServiceControls{ACCEPT_STOP, ACCEPT_SHUTDOWN}));
  EXPECT_EQ(ControlCodeToSystem(CONTROL_STOP), 1u);
  EXPECT_EQ(ControlCodeToSystem(CONTROL_SHUTDOWN), 5u);
  EXPECT_EQ(ControlCodeToSystem(static_cast<TServiceControlCode>(5)), 0u);
}

}  // namespace

# Helpers shared by every folder's CMakeLists.

# Japanese texts are written in UTF-8 and compiled into CP932 bytes. Only the message files named
# here get the flags; each one carries a static_assert that fails when the flags are lost.
function(kelvadon_messages)
  set_source_files_properties(${ARGN} PROPERTIES
    COMPILE_OPTIONS "-finput-charset=UTF-8;-fexec-charset=CP932")
endfunction()

# kelvadon_test(<name> SOURCES <files...> LIBS <targets...> [NETNS] [GUI] [WM]
#               [LABELS <labels...>] [PROPERTIES <ctest properties...>])
# One GoogleTest program, linked with the base of the test helpers (tests/support); its cases are
# found when the tests run. NETNS runs the program (its listing and every case) in a network
# namespace of its own through tests/support/netns-run: for programs that start a collector, scmd
# or anything else on a fixed port. GUI runs it on a display of its own through
# tests/support/xvfb-run-test, labelled "gui" (each run has its server pick a free display
# number, so gui tests may run side by side), with leaks inside fontconfig's caches not
# reported. WM is GUI with a window manager on that display (openbox), for what only a desktop
# does: frames, stacking, focus on click. Label "nosan" keeps a test out of the sanitizer run.
function(kelvadon_test name)
  cmake_parse_arguments(T "NETNS;GUI;WM" "" "SOURCES;LIBS;LABELS;PROPERTIES" ${ARGN})
  if(T_WM)
    set(T_GUI TRUE)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} test_support GTest::gtest GTest::gmock
    GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  if(T_NETNS)
    # CMake 3.25 runs tests through CROSSCOMPILING_EMULATOR; from 3.29 on TEST_LAUNCHER is the
    # property for it (and the emulator is used only when cross-compiling).
    set_target_properties(${name} PROPERTIES
      CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/tests/support/netns-run
      TEST_LAUNCHER ${PROJECT_SOURCE_DIR}/tests/support/netns-run)
  endif()
  if(T_GUI)
    # With NETNS too, the display is made outside the namespace and the program runs inside it
    # (it reaches the display through the display's socket file).
    set(launcher ${PROJECT_SOURCE_DIR}/tests/support/xvfb-run-test)
    if(T_WM)
      list(APPEND launcher --wm)
    endif()
    if(T_NETNS)
      list(APPEND launcher ${PROJECT_SOURCE_DIR}/tests/support/netns-run)
    endif()
    set_target_properties(${name} PROPERTIES
      CROSSCOMPILING_EMULATOR "${launcher}" TEST_LAUNCHER "${launcher}")
    list(APPEND T_LABELS gui)
    list(APPEND T_PROPERTIES ENVIRONMENT
      "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/support/lsan-gui.supp")
  endif()
  set(props TIMEOUT 300)
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  if(T_PROPERTIES)
    list(APPEND props ${T_PROPERTIES})
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES ${props})
endfunction()

# Helpers shared by every folder's CMakeLists.

# Japanese texts are written in UTF-8 and compiled into CP932 bytes. Only the message files named
# here get the flags; each one carries a static_assert that fails when the flags are lost.
function(kelvadon_messages)
  set_source_files_properties(${ARGN} PROPERTIES
    COMPILE_OPTIONS "-finput-charset=UTF-8;-fexec-charset=CP932")
endfunction()

# kelvadon_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>]
#               [PROPERTIES <ctest properties...>])
# One GoogleTest program; its cases are found when the tests run. Label "nosan" keeps a test out
# of the sanitizer run, "gui" marks tests that need a display.
function(kelvadon_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
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

# Fuzz targets, built with clang's libFuzzer beside the gcc build:
# clang compiles the code under test and the harness, which link the gcc-built shared libraries
# they need (rtl's message files need gcc's -fexec-charset, which clang lacks). Each runs for a
# few seconds as a CTest test labelled "fuzz", starting from the seed corpus in corpus/; what it
# finds on the way stays in the build folder. Not in a sanitizer build: clang's sanitizer run-time
# cannot share a process with gcc's. KELVADON_FUZZ tells the fuzz folders whether they are built.
set(KELVADON_FUZZ OFF)
if(NOT KELVADON_SANITIZE)
  find_program(KELVADON_CLANGXX NAMES clang++-14 clang++)
  if(KELVADON_CLANGXX)
    execute_process(COMMAND ${KELVADON_CLANGXX} -print-runtime-dir
      OUTPUT_VARIABLE clang_runtime_dir OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  if(KELVADON_CLANGXX AND EXISTS "${clang_runtime_dir}/libclang_rt.fuzzer-x86_64.a")
    set(KELVADON_FUZZ ON)
  else()
    message(STATUS "clang with libFuzzer not found: fuzz targets are not built")
  endif()
endif()

set(KELVADON_FUZZ_SECONDS 5 CACHE STRING "How long each fuzz test runs")
set(fuzz_flags -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined
    -fno-sanitize-recover=undefined -fno-omit-frame-pointer -Wall -Wextra -Wno-unused-parameter)

# kelvadon_fuzz(<name> CORPUS <seed folder> SOURCES <files...> LIBS <shared library targets...>)
# Builds <build>/bin/<name> with clang (one object per source, so each has its own dependency
# file) and registers the CTest test <name> that runs it for KELVADON_FUZZ_SECONDS.
function(kelvadon_fuzz name)
  cmake_parse_arguments(F "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  set(objects)
  foreach(src ${F_SOURCES})
    get_filename_component(src ${src} ABSOLUTE)
    file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${src})
    string(MAKE_C_IDENTIFIER ${rel} stem)
    set(obj ${CMAKE_CURRENT_BINARY_DIR}/${name}.dir/${stem}.o)
    add_custom_command(OUTPUT ${obj}
      COMMAND ${KELVADON_CLANGXX} ${fuzz_flags} -I${PROJECT_SOURCE_DIR} -MD -MF ${obj}.d
              -c ${src} -o ${obj}
      DEPENDS ${src}
      DEPFILE ${obj}.d
      COMMENT "Compiling ${rel} for ${name} with clang"
      VERBATIM)
    list(APPEND objects ${obj})
  endforeach()
  set(libs)
  foreach(lib ${F_LIBS})
    list(APPEND libs $<TARGET_FILE:${lib}>)
  endforeach()
  set(out ${KELVADON_BIN_DIR}/${name})
  add_custom_command(OUTPUT ${out}
    COMMAND ${KELVADON_CLANGXX} ${fuzz_flags} ${objects} ${libs} -Wl,-rpath,$ORIGIN -o ${out}
    DEPENDS ${objects} ${F_LIBS}
    COMMENT "Linking fuzz target ${name}"
    VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${out})

  # New inputs go to a corpus folder in the build tree; the seeds in the source tree are only read.
  set(found ${CMAKE_CURRENT_BINARY_DIR}/${name}_corpus)
  file(MAKE_DIRECTORY ${found})
  add_test(NAME ${name}
    COMMAND ${out} -max_total_time=${KELVADON_FUZZ_SECONDS} -timeout=30 -rss_limit_mb=4096
            -print_final_stats=1 -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/${name}-
            ${found} ${CMAKE_CURRENT_SOURCE_DIR}/${F_CORPUS})
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 300
    ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1;UBSAN_OPTIONS=print_stacktrace=1")
endfunction()


# The program folder "cmake --install <build> --prefix DIR" lays out in DIR: the programs, the
# libraries they link or load by name, the record and event folders, a default settings file
# (only when DIR has none, so a reinstall keeps the administrator's settings and stored password)
# and scmd's systemd unit naming DIR. Programs and libraries keep their RPATH $ORIGIN, so the
# folder works wherever it is. Nothing of the tests, benchmarks or scripts/run goes there.

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /opt/kelvadon CACHE PATH "The program folder to install into" FORCE)
endif()

set(kelvadon_installed
    KelvadonService
    KelvadonMan
    Rekindler
    scmd
    scmctl
    # Linked by the programs.
    rtl
    platform_win
    platform_msg
    platform_advapi32
    platform_ui_core
    platform_ui_fltk
    # Loaded by name.
    wsock32)
install(TARGETS ${kelvadon_installed} RUNTIME DESTINATION . LIBRARY DESTINATION .)
# What an install needs built: "cmake --build <build> --target program_folder".
add_custom_target(program_folder)
add_dependencies(program_folder ${kelvadon_installed})

install(DIRECTORY DESTINATION RecvData)
install(DIRECTORY DESTINATION Log)

set(KELVADON_SCM_UNIT ${PROJECT_SOURCE_DIR}/platform/scm/kelvadon-scm.service)
install(CODE "set(unit_source [[${KELVADON_SCM_UNIT}]])")
install(CODE [[
  set(dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")

  if(EXISTS "${dir}/KelvadonMan.ini")
    message(STATUS "Keeping: ${dir}/KelvadonMan.ini")
  else()
    message(STATUS "Installing: ${dir}/KelvadonMan.ini")
    file(WRITE "${dir}/KelvadonMan.ini" "[KelvadonManager]\r\nPort=4016\r\n")
  endif()

  # The unit as it is, but for the path of scmd.
  cmake_path(APPEND CMAKE_INSTALL_PREFIX scmd OUTPUT_VARIABLE scmd)
  file(READ "${unit_source}" unit)
  string(REGEX REPLACE "\nExecStart=[^\n]*" "\nExecStart=${scmd}" unit "${unit}")
  message(STATUS "Installing: ${dir}/kelvadon-scm.service")
  file(WRITE "${dir}/kelvadon-scm.service" "${unit}")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${dir}/kelvadon-scm.service")
]])

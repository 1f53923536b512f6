# The program folder "cmake --install <build> --prefix DIR" lays out in DIR: the programs, the
# libraries they link or load by name, the record and event folders, a default settings file
# (only when DIR has none, so a reinstall keeps the administrator's settings and stored password)
# and scmd's systemd unit naming DIR. Programs and libraries keep their RPATH $ORIGIN, so the
# folder works wherever it is. Nothing of the tests, benchmarks or scripts/run goes there.
#
# DIR, RecvData/ and Log/ are shared with the group "kelvadon" (scripts/setup makes it), whose
# members run the console: the group's, with the setgid bit and group-write (2775 when the install
# makes them), so that the root service and a member's console append to each other's day files.
# Every install, a reinstall too, does that again and takes nothing away from what it finds; day
# and event files of root's group (made while the folders were not the group's) become the
# group's, and the group's day and event files group-writable. The settings file holds the
# enciphered POP password: 0660, never readable by other users.

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
# The folders first, so that everything installed into them takes their group.
install(CODE [[
  set(dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
  set(shared "${dir}" "${dir}/RecvData" "${dir}/Log")
  set(made)
  foreach(folder IN LISTS shared)
    if(NOT IS_DIRECTORY "${folder}")
      message(STATUS "Installing: ${folder}")
      file(MAKE_DIRECTORY "${folder}")
      list(APPEND made "${folder}")
    endif()
  endforeach()

  execute_process(COMMAND getent group kelvadon OUTPUT_QUIET RESULT_VARIABLE missing)
  if(missing)
    message(WARNING "The group kelvadon does not exist, so ${dir}, its RecvData/ and Log/ are not "
      "shared with it and a console run by anyone but root cannot write the day files there: "
      "run scripts/setup (or \"groupadd --system kelvadon\") and install again.")
    set(group_shared FALSE)
  else()
    # The day and event files first, while their folders are still as they were: those of root's
    # group or of kelvadon (made there by root under another mask) become the group's, writable.
    execute_process(
      COMMAND find "${dir}/RecvData" "${dir}/Log" -maxdepth 1 -type f
        "(" -group 0 -o -group kelvadon ")" -exec chgrp -h kelvadon {} + -exec chmod g+w {} +
      RESULT_VARIABLE failed ERROR_VARIABLE why)
    if(NOT failed)
      execute_process(COMMAND chgrp kelvadon ${shared} RESULT_VARIABLE failed ERROR_VARIABLE why)
    endif()
    if(failed)
      message(WARNING "Could not give ${dir}, its RecvData/ and Log/ and their files the group "
        "kelvadon (only root and members of the group may): ${why}")
      set(group_shared FALSE)
    else()
      if(made)
        execute_process(COMMAND chmod 2775 ${made})
      endif()
      execute_process(COMMAND chmod u+rwx,g+rwxs ${shared})
      message(STATUS "Shared with the group kelvadon (setgid, group-writable): ${dir}, "
        "${dir}/RecvData, ${dir}/Log")
      set(group_shared TRUE)
    endif()
  endif()
]])
install(TARGETS ${kelvadon_installed} RUNTIME DESTINATION . LIBRARY DESTINATION .)
# What an install needs built: "cmake --build <build> --target program_folder".
add_custom_target(program_folder)
add_dependencies(program_folder ${kelvadon_installed})

set(KELVADON_SCM_UNIT ${PROJECT_SOURCE_DIR}/platform/scm/kelvadon-scm.service)
install(CODE "set(unit_source [[${KELVADON_SCM_UNIT}]])")
install(CODE [[
  set(dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")

  set(settings "${dir}/KelvadonMan.ini")
  if(EXISTS "${settings}")
    message(STATUS "Keeping: ${settings}")
    if(group_shared)
      execute_process(COMMAND find "${settings}" -maxdepth 0 -type f -group 0
        -exec chgrp -h kelvadon {} + -exec chmod g+rw {} +)
    endif()
    execute_process(COMMAND chmod o-rwx "${settings}")
  else()
    message(STATUS "Installing: ${settings}")
    file(WRITE "${settings}" "[KelvadonManager]\r\nPort=4016\r\n")
    file(CHMOD "${settings}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ GROUP_WRITE)
  endif()

  # The unit as it is, but for the path of scmd.
  cmake_path(APPEND CMAKE_INSTALL_PREFIX scmd OUTPUT_VARIABLE scmd)
  file(READ "${unit_source}" unit)
  string(REGEX REPLACE "\nExecStart=[^\n]*" "\nExecStart=${scmd}" unit "${unit}")
  message(STATUS "Installing: ${dir}/kelvadon-scm.service")
  file(WRITE "${dir}/kelvadon-scm.service" "${unit}")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${dir}/kelvadon-scm.service")
]])

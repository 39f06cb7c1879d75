# Wine tier: Win32 programs run under Wine (label "wine"), and the shared Wine prefix that the e2e
# tier reuses.
#
# One prefix per build folder (build/wine/prefix), booted with `wineboot -i` the first time and
# kept. Every run starts one persistent wineserver in the fixture test wine_prefix_start and stops
# it in wine_prefix_stop; a Wine test that requires the fixture "wine_prefix" then costs a tenth
# of a second instead of seconds, and never waits on a server that holds its output pipe.
#
# The session also has one virtual display (Xvfb, when installed): every test runs through
# wine/in_prefix.sh, which sets DISPLAY to it. Wine binds its desktop to the display of the first
# program that opens a window, so a session without one would leave later GUI programs with none.
#
# The Windows version is set per program file name (HKCU\Software\Wine\AppDefaults\NAME.exe),
# never globally, so that programs in different modes run side by side under ctest -j.
#
#   flashkit_wine_test(NAME SOURCES ... [LIBS ...] MODES win98 winxp ...
#                      [DLLS targets...] [FILES paths...] [ARGS ...] [ENVIRONMENT ...]
#                      [LABELS ...] [TIMEOUT seconds])
#     Builds the GoogleTest program NAME and adds one ctest "NAME.MODE" per mode. Each mode runs
#     a copy named NAME-MODE.exe in its own folder build/wine/tests/NAME-MODE/, beside copies of
#     the DLLS (shared library targets) and FILES; that folder is the working directory. The
#     program sees FLASHKIT_WINE_MODE=MODE in its environment.
#
#   flashkit_wine_mode(PROGRAM MODE)
#     Runs the program file PROGRAM (e.g. "FwUpdate.exe") in Windows version MODE.
#
#   flashkit_wine_add_test(NAME COMMAND ... [MODE m PROGRAMS names...] [WORKING_DIRECTORY dir]
#                          [LABELS ...] [ENVIRONMENT ...] [FIXTURES_REQUIRED ...]
#                          [TIMEOUT seconds] [RUN_SERIAL])
#     Adds a ctest that runs COMMAND (a script, or ${FLASHKIT_WINE} with a program's path; not a
#     bare target name) in the Wine session: the Wine environment and DISPLAY, requiring the
#     prefix fixture. LABELS default to "wine"; WORKING_DIRECTORY to bin/.
#
#   flashkit_wine_environment(VAR)
#     Sets VAR to the environment list of a Wine test, for scripts that run wine themselves.

set(FLASHKIT_WINE_DIR ${CMAKE_BINARY_DIR}/wine)
set(FLASHKIT_WINE_PREFIX ${FLASHKIT_WINE_DIR}/prefix)
set(FLASHKIT_WINE_MODES_DIR ${FLASHKIT_WINE_DIR}/modes)
set(FLASHKIT_WINE_FIXTURE wine_prefix)
set(FLASHKIT_WINE_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/wine)
set(FLASHKIT_WINE_MODE_NAMES win95 win98 winme nt40 win2k winxp win7 win10)

function(flashkit_wine_environment var)
  set(${var}
      WINEPREFIX=${FLASHKIT_WINE_PREFIX} WINEARCH=win32 WINEDEBUG=-all
      # Our simulator lies beside the programs; Wine would load its own builtin without this.
      WINEDLLOVERRIDES=wnaspi32=n WINE=${FLASHKIT_WINE} WINESERVER=${FLASHKIT_WINESERVER}
      PARENT_SCOPE)
endfunction()

if(NOT WIN32)
  # Host builds have no Win32 programs to run; test areas may call these unconditionally.
  function(flashkit_wine_test)
  endfunction()
  function(flashkit_wine_mode)
  endfunction()
  function(flashkit_wine_add_test)
  endfunction()
  return()
endif()

find_program(FLASHKIT_WINE wine)
find_program(FLASHKIT_WINESERVER wineserver)
find_program(FLASHKIT_WINEBOOT wineboot)
find_program(FLASHKIT_OBJDUMP i686-w64-mingw32-objdump)
foreach(tool FLASHKIT_WINE FLASHKIT_WINESERVER FLASHKIT_WINEBOOT)
  if(NOT ${tool})
    message(WARNING "${tool} not found: the wine and e2e tests will fail (./run installs Wine)")
  endif()
endforeach()

# Settings imported into the prefix at every start: one fragment per program mode, written at
# configure time. Fragments of programs since removed are harmless.
file(MAKE_DIRECTORY ${FLASHKIT_WINE_MODES_DIR})

function(flashkit_wine_mode program mode)
  if(NOT mode IN_LIST FLASHKIT_WINE_MODE_NAMES)
    message(FATAL_ERROR "flashkit_wine_mode: unknown Windows version '${mode}'")
  endif()
  get_property(known GLOBAL PROPERTY FLASHKIT_WINE_MODE_${program})
  if(known AND NOT known STREQUAL mode)
    message(FATAL_ERROR "flashkit_wine_mode: ${program} already runs as ${known}, not ${mode}")
  endif()
  set_property(GLOBAL PROPERTY FLASHKIT_WINE_MODE_${program} ${mode})
  file(CONFIGURE OUTPUT ${FLASHKIT_WINE_MODES_DIR}/${program}.reg CONTENT
       "[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\${program}]\n\"Version\"=\"${mode}\"\n\n")
endfunction()

function(flashkit_wine_add_test name)
  cmake_parse_arguments(T "RUN_SERIAL" "MODE;WORKING_DIRECTORY;TIMEOUT"
                        "COMMAND;PROGRAMS;LABELS;ENVIRONMENT;FIXTURES_REQUIRED" ${ARGN})
  if(NOT T_COMMAND)
    message(FATAL_ERROR "flashkit_wine_add_test(${name}): COMMAND is required")
  endif()
  if(T_PROGRAMS AND NOT T_MODE)
    message(FATAL_ERROR "flashkit_wine_add_test(${name}): PROGRAMS need a MODE")
  endif()
  foreach(program ${T_PROGRAMS})
    flashkit_wine_mode(${program} ${T_MODE})
  endforeach()
  if(NOT T_LABELS)
    set(T_LABELS wine)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  if(NOT T_WORKING_DIRECTORY)
    set(T_WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  endif()
  flashkit_wine_environment(environment)
  if(T_MODE)
    list(APPEND environment FLASHKIT_WINE_MODE=${T_MODE})
  endif()
  list(APPEND environment ${T_ENVIRONMENT})
  set(fixtures ${FLASHKIT_WINE_FIXTURE} ${T_FIXTURES_REQUIRED})
  add_test(NAME ${name} COMMAND bash ${FLASHKIT_WINE_SCRIPTS}/in_prefix.sh ${T_COMMAND}
           WORKING_DIRECTORY ${T_WORKING_DIRECTORY})
  set_tests_properties(${name} PROPERTIES
    LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${environment}"
    FIXTURES_REQUIRED "${fixtures}")
  if(T_RUN_SERIAL)
    set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE)
  endif()
endfunction()

function(flashkit_wine_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;MODES;DLLS;FILES;ARGS;ENVIRONMENT;LABELS"
                        ${ARGN})
  if(NOT T_SOURCES OR NOT T_MODES)
    message(FATAL_ERROR "flashkit_wine_test(${name}): SOURCES and MODES are required")
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})

  # Each mode gets its own folder and program file name: the name selects the Windows version,
  # and the folder holds exactly the DLLs this program is meant to find.
  set(commands)
  set(depends ${name})
  foreach(dll ${T_DLLS})
    list(APPEND depends ${dll})
  endforeach()
  foreach(file ${T_FILES})
    list(APPEND depends ${file})
  endforeach()
  foreach(mode ${T_MODES})
    set(dir ${FLASHKIT_WINE_DIR}/tests/${name}-${mode})
    list(APPEND commands COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
                         COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${name}>
                                 ${dir}/${name}-${mode}.exe)
    foreach(dll ${T_DLLS})
      list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${dll}>
                                   ${dir}/)
    endforeach()
    foreach(file ${T_FILES})
      list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy_if_different ${file} ${dir}/)
    endforeach()
  endforeach()
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${name}.staged)
  add_custom_command(OUTPUT ${stamp} ${commands} COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
                     DEPENDS ${depends} VERBATIM)
  add_custom_target(${name}_staged ALL DEPENDS ${stamp})

  foreach(mode ${T_MODES})
    set(dir ${FLASHKIT_WINE_DIR}/tests/${name}-${mode})
    flashkit_wine_add_test(${name}.${mode}
      COMMAND ${FLASHKIT_WINE} ${dir}/${name}-${mode}.exe ${T_ARGS}
      MODE ${mode} PROGRAMS ${name}-${mode}.exe WORKING_DIRECTORY ${dir}
      LABELS wine ${T_LABELS} ENVIRONMENT ${T_ENVIRONMENT} TIMEOUT ${T_TIMEOUT})
  endforeach()
endfunction()

# The prefix fixture. Labelled for both tiers so that `ctest -L e2e` alone works as well.
flashkit_wine_environment(FLASHKIT_WINE_ENVIRONMENT)
add_test(NAME wine_prefix_start
         COMMAND bash ${FLASHKIT_WINE_SCRIPTS}/prefix.sh start ${FLASHKIT_WINE_PREFIX} ${FLASHKIT_WINE_MODES_DIR})
add_test(NAME wine_prefix_stop COMMAND bash ${FLASHKIT_WINE_SCRIPTS}/prefix.sh stop ${FLASHKIT_WINE_PREFIX})
set_tests_properties(wine_prefix_start PROPERTIES
  FIXTURES_SETUP ${FLASHKIT_WINE_FIXTURE} LABELS "wine;e2e" TIMEOUT 180
  ENVIRONMENT "${FLASHKIT_WINE_ENVIRONMENT};WINEBOOT=${FLASHKIT_WINEBOOT}")
set_tests_properties(wine_prefix_stop PROPERTIES
  FIXTURES_CLEANUP ${FLASHKIT_WINE_FIXTURE} LABELS "wine;e2e" TIMEOUT 60
  ENVIRONMENT "${FLASHKIT_WINE_ENVIRONMENT}")

# The shipped library: its export directory and its imports.
add_test(NAME flashkit_dll_exports
         COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${FLASHKIT_OBJDUMP} -DDLL=$<TARGET_FILE:flashkit>
                 -P ${CMAKE_CURRENT_LIST_DIR}/wine/check_exports.cmake)
set_tests_properties(flashkit_dll_exports PROPERTIES LABELS wine TIMEOUT 60)

# Flashkit.dll must load on 98/Me, NT 4 and 2000 as well. The posix-thread runtime linked in
# statically imports GetTickCount64 and the vectored exception handler functions;
# platform/win32/legacy_imports.cpp binds those at run time instead.
add_test(NAME flashkit_dll_old_windows
         COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${FLASHKIT_OBJDUMP} -DDLL=$<TARGET_FILE:flashkit>
                 -DOLD_WINDOWS=ON -P ${CMAKE_CURRENT_LIST_DIR}/wine/check_exports.cmake)
set_tests_properties(flashkit_dll_old_windows PROPERTIES LABELS wine TIMEOUT 60)

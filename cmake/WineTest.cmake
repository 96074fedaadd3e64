# Windows tests under Wine (Windows build only).
#
# flashwise_wine_test(NAME <name> COMMAND <exe or script> [args...]
#                     [PROGRAM <exe>] [WINDOWS xp|vista] [LIBS rapi winusb]
#                     [DISPLAY] [TIMEOUT <s>] [LABELS ...] [RUN_SERIAL])
#   Registers a CTest test with the label "wine". COMMAND runs in a folder of the
#   test's own (<build>/wine/tests/<name>); a Windows program (a target or a .exe) runs
#   under Wine, anything else (a script) runs as it is.
#   PROGRAM is the Windows program the test is about (default: COMMAND when it is a
#   Windows program). It is copied into the test's folder as <name>.exe, and the
#   Windows version and the libraries are set for that name alone, so tests never
#   share these settings and may run side by side:
#     WINDOWS xp     Wine reports Windows XP (5.1); vista: Windows 7 (6.1); neither:
#                    the prefix's default (Windows 7).
#     LIBS rapi      Rapi.dll is present (a double of our own that records its loading
#                    in the system folder); without it Rapi.dll cannot be loaded.
#     LIBS winusb    Winusb.dll is our own double; without it Winusb.dll cannot be
#                    loaded (Wine's built-in one is turned off for the program).
#   DISPLAY gives the test the X server (Xvfb, DISPLAY set); others run without. TIMEOUT (default 60 s) bounds the run;
#   the harness ends the whole test when it passes. Each test runs alone in a prefix of
#   its lane; the lanes (cmake/wine-lanes.json) run side by side, so run the tests with
#   the preset (`ctest --preset windows -j 2`), which names the lanes to CTest.
#   A script finds its program and tools in the environment: FLASHWISE_PROGRAM (the
#   copy, Unix path) and FLASHWISE_PROGRAM_WIN, FLASHWISE_TEST_DIR, FLASHWISE_PROBE_LOG
#   (Windows path the doubles append their module path to when they load),
#   FLASHWISE_GUIDRIVER, FLASHWISE_WINE_STATE, WINEPREFIX and DISPLAY.
#
# The environment is brought up by CTest fixtures, so `ctest` alone works from a clean
# build folder and leaves nothing running:
#   wine_prefix   makes the prefix once (<build>/wine/prefix, reused by later runs),
#                 installs the library doubles, starts a persistent wineserver and one
#                 warm-up process; its clean-up stops the wineserver (and with it every
#                 Wine process of the prefix).
#   wine_display  starts Xvfb on a free display before the prefix comes up (Wine's
#                 desktop process keeps the display it started with); its clean-up
#                 stops it after the wineserver.
#
# The doubles installed into the prefix are the targets named by the global
# properties FLASHWISE_WINE_RAPI_DOUBLE and FLASHWISE_WINE_WINUSB_DOUBLE (set where
# the doubles are built); later work may point them at fuller doubles.

find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(FLASHWISE_WINE_STATE ${CMAKE_BINARY_DIR}/wine)
# As many as cmake/wine-lanes.json gives CTest.
set(FLASHWISE_WINE_LANES 2)
set(FLASHWISE_WINE_HARNESS ${CMAKE_SOURCE_DIR}/tools/wine/harness.py)

function(flashwise_wine_test)
  cmake_parse_arguments(W "DISPLAY;RUN_SERIAL" "NAME;PROGRAM;WINDOWS;TIMEOUT" "COMMAND;LIBS;LABELS" ${ARGN})
  if(NOT W_NAME OR NOT W_COMMAND)
    message(FATAL_ERROR "flashwise_wine_test: NAME and COMMAND are required")
  endif()
  if(W_WINDOWS AND NOT W_WINDOWS MATCHES "^(xp|vista)$")
    message(FATAL_ERROR "flashwise_wine_test(${W_NAME}): WINDOWS is xp or vista, not ${W_WINDOWS}")
  endif()
  foreach(lib ${W_LIBS})
    if(NOT lib MATCHES "^(rapi|winusb)$")
      message(FATAL_ERROR "flashwise_wine_test(${W_NAME}): unknown library ${lib}")
    endif()
  endforeach()
  if(NOT W_TIMEOUT)
    set(W_TIMEOUT 60)
  endif()

  list(GET W_COMMAND 0 first)
  list(SUBLIST W_COMMAND 1 -1 rest)
  if(TARGET ${first})
    set(first $<TARGET_FILE:${first}>)
  endif()
  set(program "")
  if(W_PROGRAM)
    set(program ${W_PROGRAM})
    if(TARGET ${W_PROGRAM})
      set(program $<TARGET_FILE:${W_PROGRAM}>)
    endif()
  elseif(first MATCHES "(TARGET_FILE|\\.exe$)")
    set(program ${first})
  endif()

  set(options --state ${FLASHWISE_WINE_STATE} --name ${W_NAME} --timeout ${W_TIMEOUT}
              --driver $<$<TARGET_EXISTS:flashwise_guidriver>:$<TARGET_FILE:flashwise_guidriver>>)
  if(program)
    list(APPEND options --program ${program})
  endif()
  if(W_WINDOWS)
    list(APPEND options --windows ${W_WINDOWS})
  endif()
  if(W_LIBS)
    list(JOIN W_LIBS "," libs)
    list(APPEND options --libs ${libs})
  endif()
  set(fixtures wine_prefix)
  if(W_DISPLAY)
    list(APPEND options --display)
  endif()

  add_test(NAME ${W_NAME}
           COMMAND ${Python3_EXECUTABLE} ${FLASHWISE_WINE_HARNESS} run ${options} -- ${first} ${rest})
  # CTest's own bound sits above the harness's, so the harness gets to end the
  # test's processes and say why.
  set(W_LABELS_SEP "")
  if(W_LABELS)
    set(W_LABELS_SEP ";")
  endif()
  math(EXPR ctest_timeout "${W_TIMEOUT} + 30")
  set_tests_properties(${W_NAME} PROPERTIES
    LABELS "wine${W_LABELS_SEP}${W_LABELS}"
    TIMEOUT ${ctest_timeout}
    FIXTURES_REQUIRED "${fixtures}")
  # Every test has a prefix to itself while it runs: its lane (cmake/wine-lanes.json,
  # handed out by CTest; the harness runs the test in that lane's prefix). Two lanes
  # run side by side. RUN_SERIAL says the same as every test now: it needs its lane
  # alone (its world's services, drivers and named objects belong to the prefix).
  set_tests_properties(${W_NAME} PROPERTIES RESOURCE_GROUPS "prefix:1")
  set_property(GLOBAL PROPERTY FLASHWISE_HAS_WINE_TESTS ON)
endfunction()

# The fixtures are registered once every folder has been read, so that they see the
# doubles wherever those are built.
function(_flashwise_wine_fixtures)
  get_property(any GLOBAL PROPERTY FLASHWISE_HAS_WINE_TESTS)
  if(NOT any)
    return()
  endif()
  set(install "")
  foreach(pair "RAPI;rapi.dll" "WINUSB;winusb.dll")
    list(GET pair 0 kind)
    list(GET pair 1 file)
    get_property(target GLOBAL PROPERTY FLASHWISE_WINE_${kind}_DOUBLE)
    if(target AND TARGET ${target})
      list(APPEND install --install ${file}=$<TARGET_FILE:${target}>)
    endif()
  endforeach()
  # The routes to the simulated boot loader go into every lane's prefix with it.
  if(TARGET BootLoaderRoutes AND TARGET flashwise_bridge_winusb)
    list(APPEND install --routes-exe $<TARGET_FILE:BootLoaderRoutes>
                        --winusb-dll $<TARGET_FILE:flashwise_bridge_winusb>)
    get_property(serial_driver GLOBAL PROPERTY FLASHWISE_BRIDGE_SERIAL_DRIVER)
    if(serial_driver)
      list(APPEND install --serial-driver ${serial_driver})
    endif()
  endif()
  set(harness ${Python3_EXECUTABLE} ${FLASHWISE_WINE_HARNESS})
  # A new prefix takes about 20 s; a slow machine gets room for more.
  add_test(NAME wine_prefix_up COMMAND ${harness} prefix-up --state ${FLASHWISE_WINE_STATE} ${install}
                                       --lanes ${FLASHWISE_WINE_LANES})
  add_test(NAME wine_prefix_down COMMAND ${harness} prefix-down --state ${FLASHWISE_WINE_STATE})
  add_test(NAME wine_display_up COMMAND ${harness} display-up --state ${FLASHWISE_WINE_STATE})
  add_test(NAME wine_display_down COMMAND ${harness} display-down --state ${FLASHWISE_WINE_STATE})
  # Wine's desktop process lives as long as the wineserver and keeps the display it
  # started with, so the X server comes up first and goes last, for every test.
  set_tests_properties(wine_prefix_up PROPERTIES FIXTURES_SETUP wine_prefix FIXTURES_REQUIRED wine_display
                       TIMEOUT 300 LABELS "wine")
  set_tests_properties(wine_prefix_down PROPERTIES FIXTURES_CLEANUP wine_prefix FIXTURES_REQUIRED wine_display
                       TIMEOUT 120 LABELS "wine")
  set_tests_properties(wine_display_up PROPERTIES FIXTURES_SETUP wine_display TIMEOUT 60 LABELS "wine")
  set_tests_properties(wine_display_down PROPERTIES FIXTURES_CLEANUP wine_display TIMEOUT 60 LABELS "wine")
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _flashwise_wine_fixtures)

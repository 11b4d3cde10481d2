# Test support: GoogleTest built from the Debian source package with the cross
# compiler, and every test program run under Wine through scripts/wine-run.

set(XP_WINE_STATE ${CMAKE_BINARY_DIR}/wine)
set(XP_WINE_RUN ${PROJECT_SOURCE_DIR}/scripts/wine-run)

macro(xp_setup_testing)
  enable_testing()
  set(GTEST_SRC /usr/src/googletest CACHE PATH "GoogleTest sources")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(${GTEST_SRC} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  if(MINGW)
    # The win32 thread model has no std::mutex: GoogleTest gets a start
    # signal of its own, in itself and in every test that includes it.
    target_compile_options(gtest PUBLIC -include ${PROJECT_SOURCE_DIR}/cmake/gtest-win32-notification.h)
  endif()
  if(CMAKE_CROSSCOMPILING)
    # The first test creates the prefix, the display and the wineserver; the last ends them.
    add_test(NAME wine_session_start COMMAND ${XP_WINE_RUN} ${XP_WINE_STATE} --start)
    set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
    add_test(NAME wine_session_stop COMMAND ${XP_WINE_RUN} ${XP_WINE_STATE} --stop)
    set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP wine)
  endif()
endmacro()

# Runs a test command under Wine (the emulator), inside the shared session, or
# with SESSION <session> in a session of its own: <build>/wine-<session>, its
# own prefix, wineserver and display, made from a copy of the shared one and
# ended with it. Drive letters, drive broadcasts and the machine-wide registry
# of a session reach no other, so its entries need no lock against the rest;
# Wine programs mostly wait (quiet periods, other processes, bounds), so such
# entries run side by side.
function(xp_add_wine_test name)
  cmake_parse_arguments(T "" "TIMEOUT;SESSION" "COMMAND" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  if(T_SESSION AND CMAKE_CROSSCOMPILING)
    list(POP_FRONT T_COMMAND program)
    if(TARGET ${program})
      set(program $<TARGET_FILE:${program}>)
    endif()
    add_test(NAME ${name} COMMAND ${XP_WINE_RUN} ${XP_WINE_STATE}-${T_SESSION} ${program} ${T_COMMAND})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT XP_WINE_SEED=${XP_WINE_STATE})
  else()
    add_test(NAME ${name} COMMAND ${T_COMMAND})
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(CMAKE_CROSSCOMPILING)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine)
  endif()
endfunction()

# xp_add_session_test(<name> PROGRAM <target> [SESSION <session>] [FILTER <gtest filter>] [TIMEOUT s]):
# one more ctest entry for a test program, or the part of it the filter
# selects, in a Wine session of its own (the entry's name unless given).
function(xp_add_session_test name)
  cmake_parse_arguments(T "" "PROGRAM;SESSION;FILTER;TIMEOUT" "" ${ARGN})
  if(NOT T_SESSION)
    set(T_SESSION ${name})
  endif()
  set(args --gtest_color=no)
  if(T_FILTER)
    list(APPEND args "--gtest_filter=${T_FILTER}")
  endif()
  xp_add_wine_test(${name} COMMAND ${T_PROGRAM} ${args} SESSION ${T_SESSION} TIMEOUT ${T_TIMEOUT})
endfunction()

# xp_add_gtest(<name> SOURCES ... [LIBS ...] [TIMEOUT s] [SCRATCH_REGISTRY]
# [PRIVATE_PREFIX] [SESSION <session>]): one test program, one ctest entry (a
# Wine process start costs seconds, so a program holds many tests).
# SCRATCH_REGISTRY runs the whole program with its machine and user hives in a
# scratch registry; PRIVATE_PREFIX makes it refuse to run outside the build
# folder's private Wine prefix (for programs that start the real program or
# write the real machine-wide configuration). Both are in tests/support.
# SESSION runs it in a Wine session of its own (see xp_add_wine_test);
# NO_ENTRY builds the program only, for entries that each run a part of it.
function(xp_add_gtest name)
  cmake_parse_arguments(T "SCRATCH_REGISTRY;PRIVATE_PREFIX;NO_ENTRY" "TIMEOUT;SESSION" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  # Every test program may use the test-support library (tests/support).
  target_link_libraries(${name} PRIVATE ${T_LIBS} xptestsupport GTest::gtest GTest::gmock GTest::gtest_main)
  if(T_SCRATCH_REGISTRY)
    target_link_libraries(${name} PRIVATE xptest_scratch_registry)
  endif()
  if(T_PRIVATE_PREFIX)
    target_link_libraries(${name} PRIVATE xptest_private_prefix)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  if(T_NO_ENTRY)
    return()
  elseif(T_SESSION)
    xp_add_session_test(${name} PROGRAM ${name} SESSION ${T_SESSION} TIMEOUT ${T_TIMEOUT})
  else()
    xp_add_wine_test(${name} COMMAND ${name} --gtest_color=no TIMEOUT ${T_TIMEOUT})
  endif()
endfunction()

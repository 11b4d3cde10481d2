# The child program that the process-start tests run; it lives next to the tests.
add_executable(xp_run_child ${CMAKE_CURRENT_LIST_DIR}/xp_run_child.cpp)
target_link_libraries(xp_run_child PRIVATE shell32)
xp_add_gtest(platform_fs_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/XpFileSystem_test.cpp ${CMAKE_CURRENT_LIST_DIR}/XpFileOperation_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/XpProgramPaths_test.cpp
  LIBS xpplatform)
add_dependencies(platform_fs_tests xp_run_child)
# The per-thread error mode of drive probes.
target_sources(platform_fs_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/XpErrorMode_test.cpp)
# Bounded runs: their children, their error mode.
target_sources(platform_fs_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/XpBoundedRun_test.cpp)
target_link_libraries(platform_fs_tests PRIVATE xptestsupport)

xp_add_gtest(platform_io_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/XpFile_test.cpp ${CMAKE_CURRENT_LIST_DIR}/XpMemoryFile_test.cpp
  LIBS xpplatform)

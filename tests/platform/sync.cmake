xp_add_gtest(platform_sync_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/XpSync_test.cpp ${CMAKE_CURRENT_LIST_DIR}/XpThread_test.cpp
  LIBS xpplatform)

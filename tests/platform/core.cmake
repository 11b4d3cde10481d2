xp_add_gtest(platform_string_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/XpString_test.cpp LIBS xpplatform)

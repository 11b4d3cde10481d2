xp_add_gtest(platform_datetime_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/XpDateTime_test.cpp LIBS xpplatform)

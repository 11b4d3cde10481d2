xp_add_gtest(platform_compat_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/XpCrtCompat_test.cpp LIBS xpplatform)

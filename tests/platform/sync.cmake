# The second process of the named-mutex tests; it lives next to the tests.
add_executable(xp_mutex_child ${CMAKE_CURRENT_LIST_DIR}/xp_mutex_child.cpp)
target_link_libraries(xp_mutex_child PRIVATE xpplatform shell32)
xp_add_gtest(platform_sync_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/XpSync_test.cpp ${CMAKE_CURRENT_LIST_DIR}/XpThread_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/XpLatentFaults_test.cpp ${CMAKE_CURRENT_LIST_DIR}/XpCancellation_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/XpHandle_test.cpp
  LIBS xpplatform xptestsupport oleaut32)
add_dependencies(platform_sync_tests xp_mutex_child)

xp_add_gtest(platform_registry_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/XpRegistry_test.cpp ${CMAKE_CURRENT_LIST_DIR}/XpRegistryExpand_test.cpp
  LIBS xpplatform SCRATCH_REGISTRY)

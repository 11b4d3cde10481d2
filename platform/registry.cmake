# Registry keys under the current user or the local machine.
target_sources(xpplatform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/XpRegistry.h ${CMAKE_CURRENT_LIST_DIR}/XpRegistry.cpp)
target_link_libraries(xpplatform PUBLIC advapi32 shlwapi)

# Strings and shared pointers.
target_sources(xpplatform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/XpString.h ${CMAKE_CURRENT_LIST_DIR}/XpString.cpp)

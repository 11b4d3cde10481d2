# Calendar values and durations.
target_sources(xpplatform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/XpDateTime.h ${CMAKE_CURRENT_LIST_DIR}/XpDateTime.cpp)

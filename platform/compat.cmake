# Run-time library calls that older systems lack, looked up at run time.
target_sources(xpplatform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/XpCrtCompat.h ${CMAKE_CURRENT_LIST_DIR}/XpCrtCompat.cpp)

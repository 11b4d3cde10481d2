# Files on disk and in memory.
target_sources(xpplatform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/XpFile.h
  ${CMAKE_CURRENT_LIST_DIR}/XpFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XpMemoryFile.h
  ${CMAKE_CURRENT_LIST_DIR}/XpMemoryFile.cpp)

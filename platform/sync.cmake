target_sources(xpplatform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/XpSync.h
  ${CMAKE_CURRENT_LIST_DIR}/XpSync.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XpThread.h
  ${CMAKE_CURRENT_LIST_DIR}/XpThread.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XpCancellation.h
  ${CMAKE_CURRENT_LIST_DIR}/XpCancellation.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XpOsVersion.h
  ${CMAKE_CURRENT_LIST_DIR}/XpOsVersion.cpp)

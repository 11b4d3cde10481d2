# Directories, paths, special folders, process start and whole-file operations.
target_sources(xpplatform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/XpPath.h
  ${CMAKE_CURRENT_LIST_DIR}/XpPath.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XpFsObject.h
  ${CMAKE_CURRENT_LIST_DIR}/XpFsObject.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XpFileSystem.h
  ${CMAKE_CURRENT_LIST_DIR}/XpFileSystem.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XpShellFolders.h
  ${CMAKE_CURRENT_LIST_DIR}/XpShellFolders.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XpProcessStart.h
  ${CMAKE_CURRENT_LIST_DIR}/XpProcessStart.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XpFileOperation.h
  ${CMAKE_CURRENT_LIST_DIR}/XpFileOperation.cpp)
target_link_libraries(xpplatform PUBLIC shlwapi shell32 ole32 uuid)
# A program run whose wait has a bound and can be cancelled.
target_sources(xpplatform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/XpBoundedRun.h
  ${CMAKE_CURRENT_LIST_DIR}/XpBoundedRun.cpp)

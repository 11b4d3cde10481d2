# Importer module registry, scoring and launching.
target_sources(xpmodules PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/SfImporterModule.h
  ${CMAKE_CURRENT_LIST_DIR}/SfImporterModule.cpp)
target_link_libraries(xpmodules PUBLIC user32)

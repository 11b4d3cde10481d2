# External tool registrations (property-list files and their catalogue).
target_sources(xpmodules PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ExternalProgram.h
  ${CMAKE_CURRENT_LIST_DIR}/ExternalProgram.cpp)
target_link_libraries(xpmodules PUBLIC xpplist)

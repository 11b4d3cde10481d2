# The module tests need the registry, files and the property-list XML layer.
set(xp_modules_deps ${PROJECT_SOURCE_DIR}/platform/XpRegistry.cpp ${PROJECT_SOURCE_DIR}/platform/XpFile.cpp
    ${PROJECT_SOURCE_DIR}/plist/XpIniXml.cpp)
set(xp_modules_ready ON)
foreach(f ${xp_modules_deps})
  if(NOT EXISTS ${f})
    set(xp_modules_ready OFF)
  endif()
endforeach()
if(xp_modules_ready AND TARGET refimporter)
  xp_add_gtest(modules_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/SfImporterModule_test.cpp ${CMAKE_CURRENT_LIST_DIR}/ExternalProgram_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/PortableKind_test.cpp
            ${CMAKE_CURRENT_LIST_DIR}/ModulesTestSupport.h
    LIBS xpmodules shell32 user32 TIMEOUT 180)
  # The reference importer and its texts run from beside the test program.
  target_compile_definitions(modules_tests PRIVATE _CRT_SECURE_NO_WARNINGS)
  add_dependencies(modules_tests refimporter refimporterloc)
  add_custom_command(TARGET modules_tests POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:refimporter> $<TARGET_FILE:refimporterloc>
            $<TARGET_FILE_DIR:modules_tests>)
  # The tests own the suite's registry keys and tools folder while they run.
  set_tests_properties(modules_tests PROPERTIES RESOURCE_LOCK vantolo_suite_registry)
endif()

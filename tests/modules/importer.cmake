# The module and tool-registration tests: registry, files and the property-list
# XML layer, with copies of the reference importer; scoring runs that hang,
# crash or are cancelled. The registry and the user's application-data folder
# are scratch ones (tests/support).
xp_add_gtest(modules_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/SfImporterModule_test.cpp ${CMAKE_CURRENT_LIST_DIR}/ExternalProgram_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/ExternalProgramKeeping_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/SfImporterModuleScoring_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/SfImporterModulePortable_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/ModulesTestSupport.h
  LIBS xpmodules xptestsupport shell32 user32 TIMEOUT 600 SCRATCH_REGISTRY)
# The reference importer and its texts run from beside the test program.
target_compile_definitions(modules_tests PRIVATE _CRT_SECURE_NO_WARNINGS)
add_dependencies(modules_tests refimporter refimporterloc)
add_custom_command(TARGET modules_tests POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:refimporter> $<TARGET_FILE:refimporterloc>
          $<TARGET_FILE_DIR:modules_tests>)
# The tests own the suite's registry keys and tools folder while they run.
set_tests_properties(modules_tests PROPERTIES RESOURCE_LOCK vantolo_suite_registry COST 45)

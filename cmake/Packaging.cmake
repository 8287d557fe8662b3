# `cmake --build --preset windows --target package` makes Trimbolt64-<version>-win64.zip with
# the exe, the README and the licence at its top level.
install(TARGETS Trimbolt64 RUNTIME DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Trimbolt64)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME Trimbolt64-${PROJECT_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
include(CPack)

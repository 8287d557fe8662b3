# The release files, both in the build folder and both built by default:
#   Trimbolt64-<version>-win64.zip  (`--target package`, CPack) and
#   Trimbolt64-<version>-win64.msi  (`--target msi`, wixl, see packaging/make_msi.py),
# each with the exe, the README, the licence and the hourly task definition. With a signing
# certificate (cmake/Signing.cmake) both carry a signed copy of the exe and the MSI is signed
# too; the exe the build makes stays unsigned, so that it stays byte-reproducible.
find_program(TRIMBOLT_PYTHON NAMES python3 REQUIRED)
include(cmake/Signing.cmake)

set(TRIMBOLT_RELEASE_NAME Trimbolt64-${PROJECT_VERSION}-win64)
set(TRIMBOLT_PACKAGING ${CMAKE_SOURCE_DIR}/packaging)

# The task definition as Task Scheduler exports its own (UTF-16).
set(TRIMBOLT_TASK_XML ${CMAKE_BINARY_DIR}/Trimbolt64-hourly.xml)
add_custom_command(OUTPUT ${TRIMBOLT_TASK_XML}
  COMMAND ${TRIMBOLT_PYTHON} ${TRIMBOLT_PACKAGING}/encode_task.py
          ${TRIMBOLT_PACKAGING}/Trimbolt64-hourly.xml ${TRIMBOLT_TASK_XML}
  DEPENDS ${TRIMBOLT_PACKAGING}/encode_task.py ${TRIMBOLT_PACKAGING}/Trimbolt64-hourly.xml
  COMMENT "Encoding the hourly task definition"
  VERBATIM)
add_custom_target(task_definition ALL DEPENDS ${TRIMBOLT_TASK_XML})

# The exe that is released.
if(TRIMBOLT_SIGN)
  set(TRIMBOLT_RELEASE_EXE ${CMAKE_BINARY_DIR}/signed/Trimbolt64.exe)
  trimbolt_sign($<TARGET_FILE:Trimbolt64> ${TRIMBOLT_RELEASE_EXE} Trimbolt64)
  add_custom_target(signed_exe ALL DEPENDS ${TRIMBOLT_RELEASE_EXE})
else()
  set(TRIMBOLT_RELEASE_EXE $<TARGET_FILE:Trimbolt64>)
endif()

# The MSI. wixl is a Linux tool; a build on Windows makes the zip only.
if(NOT CMAKE_HOST_WIN32)
  find_program(TRIMBOLT_WIXL wixl REQUIRED)
  set(TRIMBOLT_MSI ${CMAKE_BINARY_DIR}/${TRIMBOLT_RELEASE_NAME}.msi)
  if(TRIMBOLT_SIGN)
    set(unsigned_msi ${CMAKE_BINARY_DIR}/unsigned/${TRIMBOLT_RELEASE_NAME}.msi)
  else()
    set(unsigned_msi ${TRIMBOLT_MSI})
  endif()
  set(payload
    Trimbolt64.exe=${TRIMBOLT_RELEASE_EXE}
    README.md=${CMAKE_SOURCE_DIR}/README.md
    LICENSE=${CMAKE_SOURCE_DIR}/LICENSE
    Trimbolt64-hourly.xml=${TRIMBOLT_TASK_XML}
    Trimbolt64.ico=${CMAKE_SOURCE_DIR}/resources/Trimbolt64.ico)
  add_custom_command(OUTPUT ${unsigned_msi}
    COMMAND ${TRIMBOLT_PYTHON} ${TRIMBOLT_PACKAGING}/make_msi.py --wixl ${TRIMBOLT_WIXL}
            --version ${PROJECT_VERSION} --description ${PROJECT_DESCRIPTION}
            --output ${unsigned_msi} ${payload}
    DEPENDS Trimbolt64 ${TRIMBOLT_RELEASE_EXE} ${TRIMBOLT_TASK_XML}
            ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE
            ${CMAKE_SOURCE_DIR}/resources/Trimbolt64.ico ${TRIMBOLT_PACKAGING}/Trimbolt64.wxs
            ${TRIMBOLT_PACKAGING}/make_msi.py ${TRIMBOLT_PACKAGING}/msisummary.py
    COMMENT "Building ${TRIMBOLT_RELEASE_NAME}.msi"
    VERBATIM)
  if(TRIMBOLT_SIGN)
    trimbolt_sign(${unsigned_msi} ${TRIMBOLT_MSI})
  endif()
  add_custom_target(msi ALL DEPENDS ${TRIMBOLT_MSI})
endif()

# The zip: `cmake --build --preset windows --target package`, which builds the MSI too.
if(TRIMBOLT_SIGN)
  install(FILES ${TRIMBOLT_RELEASE_EXE} DESTINATION .)
else()
  install(TARGETS Trimbolt64 RUNTIME DESTINATION .)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE ${TRIMBOLT_TASK_XML}
        DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Trimbolt64)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME ${TRIMBOLT_RELEASE_NAME})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
include(CPack)

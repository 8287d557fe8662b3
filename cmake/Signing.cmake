# Authenticode signing of the release files, off unless a certificate and its key are given:
#
#   cmake --preset windows -DTRIMBOLT_SIGN_CERT=/secure/cert.pem -DTRIMBOLT_SIGN_KEY=/secure/key.pem
#
# An encrypted key takes its password from the environment variable TRIMBOLT_SIGN_PASSWORD at
# build time (packaging/sign.py reads it; it is never stored in the cache). The certificate and
# the key must lie outside the source tree, so that neither can be committed by mistake; the
# build folder is allowed, as git ignores it.
set(TRIMBOLT_SIGN_CERT "" CACHE FILEPATH "Code-signing certificate for the release files (empty: unsigned)")
set(TRIMBOLT_SIGN_KEY "" CACHE FILEPATH "Private key of TRIMBOLT_SIGN_CERT")
set(TRIMBOLT_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp server for the signatures (empty: none)")

set(TRIMBOLT_SIGN OFF)
if(TRIMBOLT_SIGN_CERT OR TRIMBOLT_SIGN_KEY)
  if(NOT TRIMBOLT_SIGN_CERT OR NOT TRIMBOLT_SIGN_KEY)
    message(FATAL_ERROR "Signing needs both TRIMBOLT_SIGN_CERT and TRIMBOLT_SIGN_KEY")
  endif()
  foreach(file IN ITEMS "${TRIMBOLT_SIGN_CERT}" "${TRIMBOLT_SIGN_KEY}")
    if(NOT EXISTS "${file}")
      message(FATAL_ERROR "No such signing file: ${file}")
    endif()
    file(REAL_PATH "${file}" real)
    cmake_path(IS_PREFIX CMAKE_SOURCE_DIR "${real}" NORMALIZE in_source)
    cmake_path(IS_PREFIX CMAKE_BINARY_DIR "${real}" NORMALIZE in_build)
    if(in_source AND NOT in_build)
      message(FATAL_ERROR "Keep signing files out of the source tree: ${file}")
    endif()
  endforeach()
  find_program(TRIMBOLT_OSSLSIGNCODE osslsigncode REQUIRED)
  set(TRIMBOLT_SIGN ON)
  message(STATUS "Release files are signed with ${TRIMBOLT_SIGN_CERT}")
endif()

# Adds the command that writes a signed copy of `input` to `output`; further arguments are more
# dependencies of that command.
function(trimbolt_sign input output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${TRIMBOLT_PYTHON} ${CMAKE_SOURCE_DIR}/packaging/sign.py
            --cert ${TRIMBOLT_SIGN_CERT} --key ${TRIMBOLT_SIGN_KEY}
            --timestamp-url "${TRIMBOLT_SIGN_TIMESTAMP_URL}"
            --osslsigncode ${TRIMBOLT_OSSLSIGNCODE} ${input} ${output}
    DEPENDS ${input} ${ARGN} ${CMAKE_SOURCE_DIR}/packaging/sign.py
            ${TRIMBOLT_SIGN_CERT} ${TRIMBOLT_SIGN_KEY}
    COMMENT "Signing ${output}"
    VERBATIM)
endfunction()

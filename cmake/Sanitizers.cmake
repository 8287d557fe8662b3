# Instrumented builds. Included before any target is made, so that every target of the build,
# libraries and tests alike, is compiled and linked the same way.
#
# TRIMBOLT_SANITIZE: a list for -fsanitize= (address,undefined, say); empty for none. Every
# finding stops the program, so that a test under the sanitizers cannot pass with one.
# TRIMBOLT_FUZZ: builds the fuzz targets (clang's libFuzzer) instead of the tests. Everything is
# compiled with libFuzzer's coverage instrumentation; only the fuzz targets link its driver.
set(TRIMBOLT_SANITIZE "" CACHE STRING "Sanitizers for -fsanitize= (e.g. address,undefined)")
option(TRIMBOLT_FUZZ "Build the libFuzzer targets (clang) instead of the tests" OFF)

if(TRIMBOLT_SANITIZE)
  if(MSVC)
    message(FATAL_ERROR "TRIMBOLT_SANITIZE is for GCC and Clang builds")
  endif()
  add_compile_options(-fsanitize=${TRIMBOLT_SANITIZE} -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${TRIMBOLT_SANITIZE} -fno-sanitize-recover=all)
endif()

if(TRIMBOLT_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "TRIMBOLT_FUZZ needs clang (libFuzzer)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

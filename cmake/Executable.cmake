# Trimbolt64.exe: a GUI-subsystem x86-64 executable that imports nothing but Windows' own DLLs.
add_library(trimbolt_platform STATIC
  platform/win/CommandLine.cpp
  platform/win/Memory.cpp
  platform/win/Mutex.cpp
  platform/win/Resource.cpp
  platform/win/Sound.cpp
  platform/win/Window.cpp)
target_include_directories(trimbolt_platform PUBLIC ${CMAKE_SOURCE_DIR})
trimbolt_warnings(trimbolt_platform)

add_executable(Trimbolt64 WIN32 platform/win/Entry.cpp resources/Trimbolt64.rc)
trimbolt_warnings(Trimbolt64)

# The resource script embeds these; windres finds them through the include directory, and the
# build has to be told that the object depends on them.
set(TRIMBOLT_EMBEDDED
  ${CMAKE_SOURCE_DIR}/resources/Trimbolt64.ico
  ${CMAKE_SOURCE_DIR}/resources/Trimbolt64.wav
  ${CMAKE_SOURCE_DIR}/resources/Trimbolt64.manifest
  ${CMAKE_SOURCE_DIR}/resources/MainForm.window)
set_source_files_properties(resources/Trimbolt64.rc PROPERTIES
  OBJECT_DEPENDS "${TRIMBOLT_EMBEDDED}"
  INCLUDE_DIRECTORIES ${CMAKE_SOURCE_DIR}/resources)
target_link_libraries(Trimbolt64 PRIVATE trimbolt_program trimbolt_platform winmm)

foreach(target trimbolt_core trimbolt_forms trimbolt_program trimbolt_platform Trimbolt64)
  target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
endforeach()

if(MINGW)
  # -municode selects the wide entry point; -static keeps libstdc++, libgcc and winpthread out
  # of the import table.
  target_compile_options(Trimbolt64 PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-municode>)
  target_link_options(Trimbolt64 PRIVATE -municode -static -Wl,--no-insert-timestamp)
  target_link_options(Trimbolt64 PRIVATE $<$<CONFIG:Release,MinSizeRel>:-s>)
endif()

if(MSVC)
  # The resource script embeds the manifest as resource 1 of type 24; the linker must not make
  # and embed one of its own besides. (The C runtime is linked statically, as with mingw-w64's
  # -static: CMAKE_MSVC_RUNTIME_LIBRARY in the top-level CMakeLists.txt.)
  target_link_options(Trimbolt64 PRIVATE /MANIFEST:NO)
endif()

# Reproducible: no time stamp in the PE header (above), and no build or source paths in the
# code, so that two clean builds anywhere give the same bytes.
foreach(target trimbolt_core trimbolt_forms trimbolt_program trimbolt_platform Trimbolt64)
  if(NOT MSVC)
    target_compile_options(${target} PRIVATE
      $<$<COMPILE_LANGUAGE:CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>
      $<$<COMPILE_LANGUAGE:CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=.>)
  endif()
endforeach()

include(cmake/Packaging.cmake)

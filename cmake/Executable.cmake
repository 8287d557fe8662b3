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

# One Windows executable of the program: the entry point and the resource script over the program
# and platform libraries. Trimbolt64 is the one that ships; the tests build variants of it with
# resources left out or changed (RESOURCE_DIRS are searched for the embedded files before
# resources/, RESOURCE_DEFINITIONS go to the resource compiler), or with more SOURCES.
function(trimbolt_executable target)
  cmake_parse_arguments(ARG "" "" "SOURCES;RESOURCE_DIRS;RESOURCE_DEFINITIONS" ${ARGN})
  set(script ${CMAKE_SOURCE_DIR}/resources/Trimbolt64.rc)
  add_executable(${target} WIN32 ${CMAKE_SOURCE_DIR}/platform/win/Entry.cpp ${script}
                 ${ARG_SOURCES})
  trimbolt_warnings(${target})
  # windres finds the embedded files through the include directories, and the build has to be
  # told that the object depends on them.
  foreach(dir ${ARG_RESOURCE_DIRS} ${CMAKE_SOURCE_DIR}/resources)
    target_include_directories(${target} PRIVATE $<$<COMPILE_LANGUAGE:RC>:${dir}>)
  endforeach()
  foreach(definition ${ARG_RESOURCE_DEFINITIONS})
    target_compile_definitions(${target} PRIVATE $<$<COMPILE_LANGUAGE:RC>:${definition}>)
  endforeach()
  set(embedded ${CMAKE_SOURCE_DIR}/resources/Trimbolt64.ico
               ${CMAKE_SOURCE_DIR}/resources/Trimbolt64.wav
               ${CMAKE_SOURCE_DIR}/resources/Trimbolt64.manifest
               ${CMAKE_SOURCE_DIR}/resources/MainForm.window)
  foreach(dir ${ARG_RESOURCE_DIRS})
    file(GLOB found ${dir}/*)
    list(APPEND embedded ${found})
  endforeach()
  get_source_file_property(known ${script} TARGET_DIRECTORY ${target} OBJECT_DEPENDS)
  if(NOT known)
    set(known "")
  endif()
  list(APPEND known ${embedded})
  list(REMOVE_DUPLICATES known)
  set_source_files_properties(${script} TARGET_DIRECTORY ${target} PROPERTIES
                              OBJECT_DEPENDS "${known}")

  target_link_libraries(${target} PRIVATE trimbolt_program trimbolt_platform winmm)
  target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
  if(MINGW)
    # -municode selects the wide entry point; -static keeps libstdc++, libgcc and winpthread out
    # of the import table.
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-municode>)
    target_link_options(${target} PRIVATE -municode -static -Wl,--no-insert-timestamp)
    target_link_options(${target} PRIVATE $<$<CONFIG:Release,MinSizeRel>:-s>)
  endif()
  if(MSVC)
    # The resource script embeds the manifest as resource 1 of type 24; the linker must not make
    # and embed one of its own besides. (The C runtime is linked statically, as with mingw-w64's
    # -static: CMAKE_MSVC_RUNTIME_LIBRARY in the top-level CMakeLists.txt.)
    target_link_options(${target} PRIVATE /MANIFEST:NO)
  endif()
  trimbolt_reproducible(${target})
endfunction()

# Reproducible: no time stamp in the PE header (above), and no build or source paths in the
# code, so that two clean builds anywhere give the same bytes.
function(trimbolt_reproducible target)
  if(NOT MSVC)
    target_compile_options(${target} PRIVATE
      $<$<COMPILE_LANGUAGE:CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>
      $<$<COMPILE_LANGUAGE:CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=.>)
  endif()
endfunction()

foreach(target trimbolt_core trimbolt_forms trimbolt_program trimbolt_platform)
  target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
  trimbolt_reproducible(${target})
endforeach()

trimbolt_executable(Trimbolt64)

include(cmake/Packaging.cmake)

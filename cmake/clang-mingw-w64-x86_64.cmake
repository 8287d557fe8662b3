# Cross-compiles for 64-bit Windows with clang and lld against the mingw-w64 headers and
# libraries, the same runtime the GCC build links (msvcrt, and GCC's libstdc++ and libgcc, linked
# statically). LLVM's own tools do the rest: llvm-windres compiles the resources, llvm-ar makes
# the archives.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TRIMBOLT_MINGW_PREFIX x86_64-w64-mingw32)
set(TRIMBOLT_LLVM_SUFFIX -14)
set(CMAKE_CXX_COMPILER clang++${TRIMBOLT_LLVM_SUFFIX})
set(CMAKE_CXX_COMPILER_TARGET ${TRIMBOLT_MINGW_PREFIX})
set(CMAKE_RC_COMPILER llvm-windres${TRIMBOLT_LLVM_SUFFIX})
set(CMAKE_AR llvm-ar${TRIMBOLT_LLVM_SUFFIX})
set(CMAKE_RANLIB llvm-ranlib${TRIMBOLT_LLVM_SUFFIX})
# The executable checks read the files with the binutils of the GCC build, which know COFF as
# lld writes it; that keeps the checks the same for both compilers.
set(CMAKE_OBJDUMP ${TRIMBOLT_MINGW_PREFIX}-objdump)
set(CMAKE_STRIP ${TRIMBOLT_MINGW_PREFIX}-strip)

# The mingw-w64 headers and import libraries live under this root.
set(CMAKE_SYSROOT /usr/${TRIMBOLT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH /usr/${TRIMBOLT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# clang does not find the C++ library of Debian's mingw-w64 GCC by itself: it sits in a folder
# named after the thread model ("12-posix"), which clang does not take for a GCC version. Ask that
# GCC where its libraries are, and take the C++ headers from beside them.
execute_process(COMMAND ${TRIMBOLT_MINGW_PREFIX}-g++ -print-libgcc-file-name
                OUTPUT_VARIABLE TRIMBOLT_LIBGCC OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
get_filename_component(TRIMBOLT_GCC_LIB_DIR "${TRIMBOLT_LIBGCC}" DIRECTORY)
set(TRIMBOLT_CXX_HEADERS ${TRIMBOLT_GCC_LIB_DIR}/include/c++)
string(JOIN " " TRIMBOLT_CLANG_INCLUDES
       -isystem ${TRIMBOLT_CXX_HEADERS}
       -isystem ${TRIMBOLT_CXX_HEADERS}/${TRIMBOLT_MINGW_PREFIX}
       -isystem ${TRIMBOLT_CXX_HEADERS}/backward)
set(CMAKE_CXX_FLAGS_INIT "${TRIMBOLT_CLANG_INCLUDES}")
# lld as the linker; libstdc++ and libgcc from GCC's folder. GCC's libgcc_eh of the posix thread
# model needs winpthread, which GCC's driver adds by itself and clang's does not (lld resolves
# archives in any order, so it may come first).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -L${TRIMBOLT_GCC_LIB_DIR} -lpthread")

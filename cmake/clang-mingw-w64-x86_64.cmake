# Cross-compiles for 64-bit Windows with clang and lld, against Debian's
# MinGW-w64 headers and libraries and the static C++ runtime of its GCC cross
# compiler (posix thread model), so that the DLL imports only system DLLs.
# Clang 16 rather than 14: only 16 can leave the compiler's command line, and
# with it the build folder, out of the CodeView records (-gno-codeview-command-line).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QS_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang-16)
set(CMAKE_C_COMPILER_TARGET ${QS_TRIPLE})
set(CMAKE_CXX_COMPILER clang++-16)
set(CMAKE_CXX_COMPILER_TARGET ${QS_TRIPLE})
set(CMAKE_RC_COMPILER ${QS_TRIPLE}-windres)
set(CMAKE_OBJCOPY llvm-objcopy-16)

# libstdc++ of the GCC cross compiler; clang's own intrinsic headers (GCC's
# use builtins that clang does not know).
file(GLOB QS_GCC_DIR /usr/lib/gcc/${QS_TRIPLE}/*-posix)
set(CMAKE_CXX_FLAGS_INIT "--start-no-unused-arguments -nostdinc++ --end-no-unused-arguments -isystem ${QS_GCC_DIR}/include/c++ \
-isystem ${QS_GCC_DIR}/include/c++/${QS_TRIPLE} -isystem ${QS_GCC_DIR}/include/c++/backward")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld-16 -L${QS_GCC_DIR} -pthread")
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/${QS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Tests of the Windows build run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/wine/wine_launcher.sh)

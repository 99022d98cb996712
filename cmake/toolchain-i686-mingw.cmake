# 32-bit Windows DLL built with Debian's clang and lld for i686-w64-mingw32,
# against Debian's mingw-w64 headers and CRT and the libstdc++/libgcc of its
# i686 mingw-w64 gcc (posix threads). Debug information is CodeView, and in
# release builds lld writes a PDB beside each binary, for WinDbg, Visual Studio
# and crash dumps (CMakeLists.txt).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ch_triple i686-w64-mingw32)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${ch_triple})
set(CMAKE_CXX_COMPILER_TARGET ${ch_triple})
set(CMAKE_SYSROOT /usr/${ch_triple})
# Resources: binutils' windres writes a COFF object lld links in.
set(CMAKE_RC_COMPILER ${ch_triple}-windres)
# Archives that may hold bitcode (ThinLTO in release builds) need LLVM's
# archiver for their symbol index.
set(CMAKE_AR llvm-ar CACHE FILEPATH "")
set(CMAKE_RANLIB llvm-ranlib CACHE FILEPATH "")
set(CMAKE_OBJCOPY llvm-objcopy CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${ch_triple}-objdump CACHE FILEPATH "")

# clang 14 does not find the gcc of Debian's layout (lib/gcc/<triple>/12-posix)
# by itself: its C++ headers and libraries are named here.
execute_process(COMMAND ${ch_triple}-g++-posix -print-libgcc-file-name
                OUTPUT_VARIABLE ch_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE ch_rc)
if(NOT ch_rc EQUAL 0 OR NOT EXISTS "${ch_libgcc}")
  message(FATAL_ERROR "no ${ch_triple}-g++-posix (run scripts/install-deps.sh)")
endif()
get_filename_component(ch_gcc_dir "${ch_libgcc}" DIRECTORY)
# (-isystem, searched before clang's own and mingw-w64's headers, in this order.)
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES
    ${ch_gcc_dir}/include/c++ ${ch_gcc_dir}/include/c++/${ch_triple} ${ch_gcc_dir}/include/c++/backward)
# The gcc runtime as scripts/build-win-deps.sh lays it out for lld (its
# runtime/ folder: libstdc++.a, crtbegin.o and crtend.o made right, and
# gcc's libgcc, libgcc_eh and libssp beside them) is taken with -B for the
# start files and -L for the libraries; CMakeLists.txt names it, relative to
# each link's folder. Tests of the compiler build archives, not programs,
# and need none of it.
# -pthread: libstdc++ of the posix-thread gcc needs winpthreads.
if(NOT CUSTOMHOOKS_WIN_DEPS)
  set(CUSTOMHOOKS_WIN_DEPS "$ENV{CUSTOMHOOKS_WIN_DEPS}")
endif()
if(NOT EXISTS "${CUSTOMHOOKS_WIN_DEPS}/runtime/crtend.o")
  message(FATAL_ERROR "Set CUSTOMHOOKS_WIN_DEPS (run scripts/build-win-deps.sh)")
endif()
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld -pthread")
endforeach()

set(CMAKE_FIND_ROOT_PATH /usr/${ch_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)

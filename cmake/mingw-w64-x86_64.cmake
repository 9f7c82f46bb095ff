# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads
# flavour): cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake ...
# scripts/windows.sh uses it to build the DLL, the tool and the tests.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_AR ${triple}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${triple}-ranlib CACHE FILEPATH "")

# Libraries and packages come from the cross root only: a Linux library
# must never reach a Windows link.
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# RapidJSON and CLI11 are headers only, the same for every target, and
# Debian installs them for the build machine. They are reached through a
# folder of links holding those two alone: adding the build machine's own
# include folder would put its C library headers before the cross ones.
set(host_headers ${CMAKE_BINARY_DIR}/host-headers)
foreach(pair "rapidjson/document.h|rapidjson" "CLI/CLI.hpp|CLI")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 probe)
  list(GET pair 1 folder)
  foreach(base /usr/include /usr/local/include)
    if(EXISTS ${base}/${probe} AND NOT EXISTS ${host_headers}/${folder})
      file(MAKE_DIRECTORY ${host_headers})
      file(CREATE_LINK ${base}/${folder} ${host_headers}/${folder} SYMBOLIC)
    endif()
  endforeach()
endforeach()
set(RAPIDJSON_INCLUDE ${host_headers} CACHE PATH "RapidJSON headers (build machine's, headers only)")
set(CLI11_INCLUDE ${host_headers} CACHE PATH "CLI11 headers (build machine's, headers only)")
# System headers there as on the build machine: their own warnings are not ours.
set(CMAKE_C_FLAGS_INIT "-isystem ${host_headers}")
set(CMAKE_CXX_FLAGS_INIT "-isystem ${host_headers}")

# The C and C++ runtimes and winpthread are linked in, so that the DLL and
# the programs need nothing beyond the DLLs every Windows system has.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Tests and other programs the build runs go through Wine when it is there.
find_program(VNSMB1C_WINE wine)
if(VNSMB1C_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VNSMB1C_WINE})
endif()

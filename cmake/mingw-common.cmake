# What both mingw-w64 toolchains share. Expects VARN_MINGW_TRIPLE.
#
# The posix thread model of Debian's compilers is the one whose libstdc++ has
# std::thread and std::mutex (GoogleTest wants them); the win32 one lacks them.
foreach(variant posix win32 "")
  if(variant)
    set(suffix "-${variant}")
  else()
    set(suffix "")
  endif()
  find_program(VARN_MINGW_CXX ${VARN_MINGW_TRIPLE}-g++${suffix})
  if(VARN_MINGW_CXX)
    break()
  endif()
endforeach()
if(NOT VARN_MINGW_CXX)
  message(FATAL_ERROR "${VARN_MINGW_TRIPLE}-g++ not found: apt-get install g++-mingw-w64")
endif()
set(CMAKE_CXX_COMPILER ${VARN_MINGW_CXX})
# GoogleTest's own project also enables C: the same compiler family.
string(REGEX REPLACE "g\\+\\+" "gcc" VARN_MINGW_CC ${VARN_MINGW_CXX})
set(CMAKE_C_COMPILER ${VARN_MINGW_CC})
find_program(CMAKE_RC_COMPILER ${VARN_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VARN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The runtime goes into every program and into io.dll, so they run on a bare Windows
# (and under wine) with no mingw DLLs beside them. --kill-at exports the port
# library's __stdcall entry points under their plain names (SetPortBit, not
# SetPortBit@8), the names a loader looks up.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--kill-at")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--kill-at")

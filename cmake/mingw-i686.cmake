# Cross build for 32-bit Windows with Debian's mingw-w64, the programs' home platform.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VARN_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# Floating point in SSE2 registers, as in the 64-bit and Linux builds. Left to the
# x87 unit, intermediate results would keep 80 bits, and the programs would print
# other figures than the other builds: 2000 less 5 % came out as 1899, not 1900,
# for pavolt's test-drive pause. SSE2 is in every x86 processor since the Pentium 4
# and the Athlon 64. Windows keeps 32-bit stacks aligned to only 4 bytes: realign
# where SSE data needs 16.
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")

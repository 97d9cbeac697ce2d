# 32-bit Windows DLLs with Debian's mingw-w64 (cdecl, the platform's default C
# convention). No loader for 32-bit programs is assumed: tests are compiled,
# and only the export-table checks, which run natively, are registered.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ORVEL_MINGW_TRIPLE i686-w64-mingw32)
set(ORVEL_MINGW_PACKAGES g++-mingw-w64-i686 googletest)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

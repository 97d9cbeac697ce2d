# 64-bit Windows DLLs with Debian's mingw-w64. Test programs run under the
# 64-bit Wine loader through wine-run.sh, in a prefix inside the build folder.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ORVEL_MINGW_TRIPLE x86_64-w64-mingw32)
set(ORVEL_MINGW_PACKAGES g++-mingw-w64-x86-64 wine64 googletest)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
set(ORVEL_WINE_RUNNER ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)

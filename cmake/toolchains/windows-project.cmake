# Included right after the top-level project() of a mingw-w64 cross build
# (the toolchain files name it as CMAKE_PROJECT_Orvel_INCLUDE). It stands in
# for the native package finding, which Dependencies.cmake skips when
# cross-compiling: Threads from the mingw runtime, GoogleTest built from
# Debian's source package with this same toolchain, and the way test programs
# are run (under Wine for x86_64, not at all for i686).

find_package(Threads REQUIRED)

if(NOT DEFINED ORVEL_BUILD_TESTS OR ORVEL_BUILD_TESTS)
  set(ORVEL_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH
    "GoogleTest sources built with the cross toolchain (Debian package googletest)")
  if(NOT EXISTS ${ORVEL_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "No GoogleTest sources at ${ORVEL_GOOGLETEST_SOURCE_DIR}; "
      "install them with: apt-get install googletest")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  # Added before the tree's warning flags, so -Werror stays ours only.
  add_subdirectory(${ORVEL_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/_deps/googletest
    EXCLUDE_FROM_ALL SYSTEM)
  # The names FindGTest gives as well, for tests written against either.
  if(NOT TARGET GTest::GTest)
    add_library(GTest::GTest ALIAS gtest)
    add_library(GTest::Main ALIAS gtest_main)
  endif()
  include(GoogleTest)

  if(ORVEL_WINE_RUNNER)
    # One Wine prefix per build folder, never the user's own. Test programs
    # are listed when CTest starts rather than after each link, so building
    # never needs Wine.
    set(ORVEL_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix CACHE PATH
      "Throwaway Wine prefix for the test programs")
    set(CMAKE_CROSSCOMPILING_EMULATOR ${ORVEL_WINE_RUNNER} ${ORVEL_WINE_PREFIX})
    set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
  else()
    # Nothing here runs these programs: they are still compiled, which checks
    # that they build for this target, but list no tests.
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/no-loader.sh)
    set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
  endif()
endif()

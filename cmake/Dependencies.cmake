# Debian packages the build needs. A missing one is installed at configure
# time when we run as root with apt-get at hand; otherwise configuration stops
# with the one command that installs it. Nothing is fetched from elsewhere.

set(ORVEL_APT_DRY_RUN OFF CACHE BOOL "Only print the packages that would be installed")

# The libraries name their installed include directory when they are
# declared, so the install directory variables must exist before them.
include(GNUInstallDirs)

function(orvel_require_debian_packages)
  if(NOT CMAKE_HOST_SYSTEM_NAME STREQUAL "Linux")
    return()
  endif()
  find_program(ORVEL_DPKG_QUERY dpkg-query)
  if(NOT ORVEL_DPKG_QUERY)
    return()
  endif()
  set(missing "")
  foreach(pkg IN LISTS ARGN)
    execute_process(COMMAND ${ORVEL_DPKG_QUERY} -W -f=\${Status} ${pkg}
      OUTPUT_VARIABLE status ERROR_QUIET RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0 OR NOT status MATCHES "install ok installed")
      list(APPEND missing ${pkg})
    endif()
  endforeach()
  if(NOT missing)
    return()
  endif()
  list(JOIN missing " " missing_text)
  set(command "apt-get install -y --no-install-recommends ${missing_text}")
  if(ORVEL_APT_DRY_RUN)
    message(STATUS "Missing Debian packages (dry run, nothing installed): ${command}")
    return()
  endif()
  find_program(ORVEL_APT_GET apt-get)
  execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT ORVEL_APT_GET OR NOT uid STREQUAL "0")
    # The indented line is printed as it stands, never wrapped: one line to
    # copy and run.
    message(FATAL_ERROR "Missing Debian packages; install them with:\n  sudo ${command}")
  endif()
  message(STATUS "Installing Debian packages: ${missing_text}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E env DEBIAN_FRONTEND=noninteractive
      ${ORVEL_APT_GET} install -y --no-install-recommends ${missing}
    RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    # The package lists may be stale on a fresh machine.
    execute_process(COMMAND ${ORVEL_APT_GET} update -q OUTPUT_QUIET)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env DEBIAN_FRONTEND=noninteractive
        ${ORVEL_APT_GET} install -y --no-install-recommends ${missing}
      RESULT_VARIABLE rc)
  endif()
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "Could not install the build's Debian packages; run:\n  ${command}")
  endif()
endfunction()

if(NOT CMAKE_CROSSCOMPILING)
  set(ORVEL_DEBIAN_PACKAGES libssl-dev pkg-config)
  if(ORVEL_BUILD_TESTS)
    list(APPEND ORVEL_DEBIAN_PACKAGES libgtest-dev libgmock-dev)
  endif()
  if(ORVEL_BUILD_BENCH)
    list(APPEND ORVEL_DEBIAN_PACKAGES libbenchmark-dev)
  endif()
  if(ORVEL_BUILD_TOOLS)
    list(APPEND ORVEL_DEBIAN_PACKAGES libcli11-dev nlohmann-json3-dev)
  endif()
  if(ORVEL_BUILD_FUZZ AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    # libFuzzer and the sanitizer runtimes of this clang.
    string(REGEX MATCH "^[0-9]+" _orvel_clang_major "${CMAKE_CXX_COMPILER_VERSION}")
    list(APPEND ORVEL_DEBIAN_PACKAGES libclang-rt-${_orvel_clang_major}-dev)
  endif()
  # cpack -G DEB: dpkg-shlibdeps (dpkg-dev) and file work out the package's
  # runtime dependencies.
  list(APPEND ORVEL_DEBIAN_PACKAGES dpkg-dev file)
  orvel_require_debian_packages(${ORVEL_DEBIAN_PACKAGES})

  find_package(Threads REQUIRED)
  find_package(OpenSSL REQUIRED COMPONENTS Crypto)
  if(ORVEL_BUILD_TESTS)
    find_package(GTest REQUIRED)
    include(GoogleTest)
  endif()
  if(ORVEL_BUILD_BENCH)
    find_package(benchmark REQUIRED)
  endif()
  if(ORVEL_BUILD_TOOLS)
    find_package(CLI11 REQUIRED)
    find_package(nlohmann_json 3 REQUIRED)
  endif()
endif()

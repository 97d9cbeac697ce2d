# Shared part of the mingw-w64 cross toolchains. The including file sets
# ORVEL_MINGW_TRIPLE, ORVEL_MINGW_PACKAGES and CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)

# The compilers must exist before project() looks for them, so a fresh Debian
# machine gets the cross packages here (when running as root), not later in
# Dependencies.cmake. ORVEL_MINGW_PACKAGES comes from the including file.
if(NOT CMAKE_IN_TRY_COMPILE AND CMAKE_HOST_SYSTEM_NAME STREQUAL "Linux")
  find_program(ORVEL_DPKG_QUERY dpkg-query)
  set(_orvel_missing "")
  if(ORVEL_DPKG_QUERY)
    foreach(_orvel_pkg IN LISTS ORVEL_MINGW_PACKAGES)
      execute_process(COMMAND ${ORVEL_DPKG_QUERY} -W -f=\${Status} ${_orvel_pkg}
        OUTPUT_VARIABLE _orvel_status ERROR_QUIET RESULT_VARIABLE _orvel_rc)
      if(NOT _orvel_rc EQUAL 0 OR NOT _orvel_status MATCHES "install ok installed")
        list(APPEND _orvel_missing ${_orvel_pkg})
      endif()
    endforeach()
  endif()
  if(_orvel_missing)
    list(JOIN _orvel_missing " " _orvel_missing_text)
    execute_process(COMMAND id -u OUTPUT_VARIABLE _orvel_uid OUTPUT_STRIP_TRAILING_WHITESPACE)
    find_program(ORVEL_APT_GET apt-get)
    if(NOT ORVEL_APT_GET OR NOT _orvel_uid STREQUAL "0")
      message(FATAL_ERROR "Missing Debian packages for the Windows build; install them with: "
        "sudo apt-get install -y --no-install-recommends ${_orvel_missing_text}")
    endif()
    message(STATUS "Installing Debian packages: ${_orvel_missing_text}")
    foreach(_orvel_try 1 2)
      execute_process(COMMAND ${CMAKE_COMMAND} -E env DEBIAN_FRONTEND=noninteractive
          ${ORVEL_APT_GET} install -y --no-install-recommends ${_orvel_missing}
        RESULT_VARIABLE _orvel_rc)
      if(_orvel_rc EQUAL 0)
        break()
      endif()
      # The package lists may be stale on a fresh machine.
      execute_process(COMMAND ${ORVEL_APT_GET} update -q OUTPUT_QUIET)
    endforeach()
    if(NOT _orvel_rc EQUAL 0)
      message(FATAL_ERROR "Could not install: ${_orvel_missing_text}")
    endif()
  endif()
endif()

# The -posix flavour of Debian's compilers has std::thread and std::mutex; the
# runtime is linked statically below, so nothing extra ships with the DLLs.
set(CMAKE_C_COMPILER ${ORVEL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORVEL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ORVEL_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${ORVEL_MINGW_TRIPLE}-objdump CACHE FILEPATH "objdump that reads PE files")

set(CMAKE_FIND_ROOT_PATH /usr/${ORVEL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread go into each DLL and program, so that they
# import from system DLLs and from each other only.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Windows builds always use the Win32 serial layer. The simulator and the tool
# are native programs: a cross build takes them from a native build instead.
set(ORVEL_PLATFORM win32 CACHE STRING "Serial platform layer of the shipped library: posix or win32")
set(ORVEL_BUILD_TOOLS OFF CACHE BOOL "Build the simulator and the orvel tool")

# GoogleTest, Threads and the test runner for cross builds.
set(CMAKE_PROJECT_Orvel_INCLUDE ${CMAKE_CURRENT_LIST_DIR}/windows-project.cmake)

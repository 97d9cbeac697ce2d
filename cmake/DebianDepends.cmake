# Read by cpack before it builds a package (CPACK_PROJECT_CONFIG_FILE). For
# the Debian package, works out Depends with dpkg-shlibdeps from the built
# libraries and programs. Our own libraries carry no shlibs information yet
# and are skipped (--ignore-missing-info): they are in the same package.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

find_program(ORVEL_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(NOT ORVEL_DPKG_SHLIBDEPS)
  message(FATAL_ERROR "dpkg-shlibdeps is needed for the Debian package; install it with:\n  sudo apt-get install -y --no-install-recommends dpkg-dev")
endif()

file(STRINGS ${CPACK_ORVEL_DEB_BINARIES} _binaries)
set(_lib_dirs "")
foreach(binary IN LISTS _binaries)
  get_filename_component(dir ${binary} DIRECTORY)
  list(APPEND _lib_dirs -l${dir})
endforeach()
list(REMOVE_DUPLICATES _lib_dirs)

# dpkg-shlibdeps wants to run in a source tree: debian/control must exist.
set(_work ${CPACK_ORVEL_DEB_WORK_DIR}/shlibdeps)
file(MAKE_DIRECTORY ${_work}/debian)
file(WRITE ${_work}/debian/control "")
execute_process(
  COMMAND ${ORVEL_DPKG_SHLIBDEPS} -O --ignore-missing-info ${_lib_dirs} ${_binaries}
  WORKING_DIRECTORY ${_work}
  OUTPUT_VARIABLE _out ERROR_VARIABLE _err RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0 OR NOT _out MATCHES "shlibs:Depends=([^\n]*)")
  message(FATAL_ERROR "dpkg-shlibdeps failed:\n${_err}")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CMAKE_MATCH_1}")
message(STATUS "Debian package depends on: ${CPACK_DEBIAN_PACKAGE_DEPENDS}")

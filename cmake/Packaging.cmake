# Installing and packaging: versioned shared libraries, the public headers,
# the programs, CMake package files (find_package(Tarvex), find_package(Orvel)),
# pkg-config files and a Debian package built with `cpack -G DEB`.
#
# Every version number here comes from the top-level project() call.

if(CMAKE_CROSSCOMPILING)
  # The Windows builds ship DLLs from their build folder; nothing to install.
  return()
endif()

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# ---- Versioned shared libraries --------------------------------------------

# libX.so -> libX.so.<major> (the SONAME) -> libX.so.<major>.<minor>.<patch>
set_target_properties(Ciphon Tarvex Orvel PROPERTIES
  VERSION ${PROJECT_VERSION}
  SOVERSION ${PROJECT_VERSION_MAJOR})

# The installed tree is relocatable: Orvel finds Tarvex and Ciphon beside
# itself, the programs find the libraries one level up. An application then
# needs only its own run path (or none, in a system directory).
file(RELATIVE_PATH _orvel_bin_to_lib
  ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set_target_properties(Orvel PROPERTIES INSTALL_RPATH "$ORIGIN")

set(ORVEL_INSTALLED_PROGRAMS "")
foreach(program IN ITEMS orvel orvel-sim)
  if(TARGET ${program})
    list(APPEND ORVEL_INSTALLED_PROGRAMS ${program})
  endif()
endforeach()
if(ORVEL_INSTALLED_PROGRAMS)
  set_target_properties(${ORVEL_INSTALLED_PROGRAMS} PROPERTIES
    INSTALL_RPATH "$ORIGIN/${_orvel_bin_to_lib}")
  install(TARGETS ${ORVEL_INSTALLED_PROGRAMS}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# ---- Libraries, headers and CMake package files ---------------------------

set(ORVEL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake)

install(TARGETS Tarvex EXPORT TarvexTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Ciphon stands in for an outside library; its targets travel inside Orvel's
# package under their own namespace.
install(TARGETS Ciphon EXPORT CiphonTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS Orvel EXPORT OrvelTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES
    ${PROJECT_SOURCE_DIR}/serial/include/tarvex.h
    ${PROJECT_SOURCE_DIR}/card/include/orvel.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT TarvexTargets NAMESPACE Tarvex::
  DESTINATION ${ORVEL_CMAKE_DIR}/Tarvex)
install(EXPORT CiphonTargets NAMESPACE Ciphon::
  DESTINATION ${ORVEL_CMAKE_DIR}/Orvel)
install(EXPORT OrvelTargets NAMESPACE Orvel::
  DESTINATION ${ORVEL_CMAKE_DIR}/Orvel)

foreach(package IN ITEMS Tarvex Orvel)
  configure_package_config_file(
    ${CMAKE_CURRENT_LIST_DIR}/${package}Config.cmake.in
    ${PROJECT_BINARY_DIR}/packaging/${package}Config.cmake
    INSTALL_DESTINATION ${ORVEL_CMAKE_DIR}/${package}
    NO_SET_AND_CHECK_MACRO NO_CHECK_REQUIRED_COMPONENTS_MACRO)
  # A 1.x consumer takes any 1.y: the SONAME changes only with the major.
  write_basic_package_version_file(
    ${PROJECT_BINARY_DIR}/packaging/${package}ConfigVersion.cmake
    VERSION ${PROJECT_VERSION}
    COMPATIBILITY SameMajorVersion)
  install(FILES
      ${PROJECT_BINARY_DIR}/packaging/${package}Config.cmake
      ${PROJECT_BINARY_DIR}/packaging/${package}ConfigVersion.cmake
    DESTINATION ${ORVEL_CMAKE_DIR}/${package})
endforeach()

# ---- pkg-config files -------------------------------------------------------

set(ORVEL_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
# The prefix is written when installing, not when configuring, so the files
# are right for `cmake --install --prefix <anywhere>` and for the Debian
# package (staged under DESTDIR, installed under /usr) alike. The configure
# pass fills in everything else and keeps @ORVEL_PC_PREFIX@ for the install.
set(ORVEL_PC_PREFIX "@ORVEL_PC_PREFIX@")
foreach(module IN ITEMS tarvex orvel)
  set(_orvel_pc_template ${PROJECT_BINARY_DIR}/packaging/${module}.pc.in)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${module}.pc.in ${_orvel_pc_template} @ONLY)
  install(CODE "
    set(ORVEL_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    file(READ \"${_orvel_pc_template}\" _orvel_pc)
    string(CONFIGURE \"\${_orvel_pc}\" _orvel_pc @ONLY)
    set(_orvel_pc_file \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${ORVEL_PKGCONFIG_DIR}/${module}.pc\")
    message(STATUS \"Installing: \${_orvel_pc_file}\")
    file(WRITE \"\${_orvel_pc_file}\" \"\${_orvel_pc}\")
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${_orvel_pc_file}\")
  ")
endforeach()

# ---- Debian package: cpack -G DEB ------------------------------------------

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvel)
set(CPACK_PACKAGE_VENDOR "Orvel developers")
set(CPACK_PACKAGE_CONTACT "Orvel developers <orvel@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "The serial line library Tarvex, the card library Orvel and the DES library Ciphon, with their C headers, CMake package and pkg-config files, the orvel command-line tool and the orvel-sim simulated reader.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)

# The linker cache is refreshed by dpkg's ldconfig trigger, as Debian's own
# library packages do, instead of by postinst/postrm scripts: a package with
# no postrm and no conffiles leaves nothing behind after `dpkg -r`, not even
# an entry in the "config-files" state. The shlibs file lets packages built
# against ours depend on it. CPack's own dependency scan would add the
# maintainer scripts, so cmake/DebianDepends.cmake runs dpkg-shlibdeps itself.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(_orvel_deb_dir ${PROJECT_BINARY_DIR}/packaging/deb)
file(WRITE ${_orvel_deb_dir}/triggers "activate-noawait ldconfig\n")
set(_orvel_shlibs "")
foreach(lib IN ITEMS Tarvex Orvel Ciphon)
  string(APPEND _orvel_shlibs
    "lib${lib} ${PROJECT_VERSION_MAJOR} ${CPACK_PACKAGE_NAME} (>= ${PROJECT_VERSION})\n")
endforeach()
file(WRITE ${_orvel_deb_dir}/shlibs "${_orvel_shlibs}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${_orvel_deb_dir}/triggers ${_orvel_deb_dir}/shlibs)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(_orvel_binaries Tarvex Orvel Ciphon ${ORVEL_INSTALLED_PROGRAMS})
list(TRANSFORM _orvel_binaries REPLACE "(.+)" "$<TARGET_FILE:\\1>")
list(JOIN _orvel_binaries "\n" _orvel_binaries)
file(GENERATE OUTPUT ${_orvel_deb_dir}/binaries.txt CONTENT "${_orvel_binaries}\n")
set(CPACK_ORVEL_DEB_BINARIES ${_orvel_deb_dir}/binaries.txt)
set(CPACK_ORVEL_DEB_WORK_DIR ${_orvel_deb_dir})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/DebianDepends.cmake)

include(CPack)

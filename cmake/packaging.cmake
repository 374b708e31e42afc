# The Linux package (Debian .deb through CPack), for a test host that
# installs the library with its package manager. scripts/package.sh
# configures a build with -DCMAKE_PROJECT_INCLUDE=<this file>, so it is read
# right after project() and needs nothing in the root CMakeLists.txt. The
# package holds what `cmake --install` installs: the shared library, the
# public header, the CMake package and pkg-config files, tqbse and the
# emulator. Dependencies come from dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tqbse-plugin-control)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "tqBsePluginControlDll")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Remote control of the base-station-emulator plug-in: C library, header, tqbse tool and emulator")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "tqBsePluginControlDll maintainers")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)

# The Debian packages (CPack), split as Debian splits a library:
#   libtqbseplugincontroldll6     the shared object (.so.6), named after its
#                                 soname; depends on the C/C++ runtimes only
#   libtqbseplugincontroldll-dev  header, .so link, pkg-config file, CMake
#                                 package; depends on the exact runtime
#   tqbse-tools                   tqbse and tqbse-emulator with their man
#                                 pages and bash completion; the only one
#                                 that needs Qt 6 Core and readline
# scripts/package.sh configures a build with
# -DCMAKE_PROJECT_INCLUDE=<this file>, so it is read right after project()
# and the root CMakeLists.txt only follows TQBSE_DEBIAN_PACKAGES. Each
# package carries /usr/share/doc/<package>/copyright (the licence) and a
# changelog; dependencies on other distributions' packages come from
# dpkg-shlibdeps.
set(TQBSE_DEBIAN_PACKAGES ON)
include(GNUInstallDirs)
# Installed under /usr always: the pkg-config file may name it.
set(TQBSE_PKGCONFIG_RELOCATABLE OFF CACHE BOOL "" FORCE)
# The library is in the loader's default path; a run path in the tools
# would only repeat it.
set(CMAKE_SKIP_INSTALL_RPATH ON)

set(tqbse_maintainer "tqBsePluginControlDll maintainers <tqbse-maintainers@example.com>")
set(tqbse_runtime libtqbseplugincontroldll${PROJECT_VERSION_MAJOR})
set(tqbse_dev libtqbseplugincontroldll-dev)
set(tqbse_tools tqbse-tools)
# README.md, docs/*.md and the HTML reference (cmake/reference.cmake).
set(TQBSE_DEV_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${tqbse_dev})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tqbse-plugin-control)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "tqBsePluginControlDll")
set(CPACK_PACKAGE_CONTACT "${tqbse_maintainer}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${tqbse_maintainer}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tqbse.example.com/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tools link the library of another of these packages: dpkg-shlibdeps
# finds it in the build (the dependency on it is stated below).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)

set(about "The library lets a test program control a base-station-emulator plug-in\nrunning in a server process on another computer, through a flat C API\nof remote calls over TCP.")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${tqbse_runtime})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The shlibs file lets packages linking the library depend on it (only the
# runtime package has a shared object); the ldconfig trigger updates the
# loader's cache. CPack also writes postinst and postrm scripts that call
# ldconfig, which the trigger replaces: scripts/package.sh drops them.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/triggers)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "remote control of the base-station-emulator plug-in - library\n${about}\n\nThis package holds the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${tqbse_dev})
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${tqbse_runtime} (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_DEV_DESCRIPTION "remote control of the base-station-emulator plug-in - development files\n${about}\n\nThis package holds the header, the pkg-config file and the CMake package\nfor building host programs, and the documentation: README, guides and\nthe HTML reference of every export.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ${tqbse_tools})
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION net)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${tqbse_runtime} (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "remote control of the base-station-emulator plug-in - tools\n${about}\n\nThis package holds tqbse, which calls any export from the command line,\nand tqbse-emulator, a reference server for testing host programs.")

# Each package's /usr/share/doc/<package>/: the licence as its copyright
# file, and a changelog (a native package's: changelog.gz).
string(TIMESTAMP tqbse_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
foreach(component runtime dev tools)
  set(package ${tqbse_${component}})
  set(dir ${PROJECT_BINARY_DIR}/debian-docs/${package})
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
  string(REGEX REPLACE "\n\n" "\n.\n" license_paragraphs "${license}")
  string(REGEX REPLACE "\n" "\n " license_paragraphs "${license_paragraphs}")
  string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" copyright_line "${license}")
  file(WRITE ${dir}/copyright
    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
    "Upstream-Name: tqBsePluginControlDll\n\n"
    "Files: *\nCopyright: ${CMAKE_MATCH_1}\nLicense: Expat\n ${license_paragraphs}\n")
  file(WRITE ${dir}/changelog
    "${package} (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
    "  * Release ${PROJECT_VERSION}.\n\n"
    " -- ${tqbse_maintainer}  ${tqbse_changelog_date}\n")
  install(FILES ${dir}/copyright DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
  install(CODE "execute_process(COMMAND gzip -9n -c ${dir}/changelog
                  OUTPUT_FILE \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}/changelog.gz)"
    COMPONENT ${component})
endforeach()
include(CPack)

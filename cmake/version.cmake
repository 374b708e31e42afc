# The one version of everything built here: the public header's
# TQBSE_VERSION_MAJOR/MINOR/PATCH/BUILD, which the library reports and
# compares with the server's. The project, the shared object's file name,
# the DLL's version resource, the pkg-config and CMake packages, the Debian
# packages and the zip take it from there (the Python package reads the
# header too). Read before project(), which takes it as its VERSION.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../include/tqBsePluginControlDll.h tqbse_version_lines
  REGEX "^#define TQBSE_VERSION_(MAJOR|MINOR|PATCH|BUILD) +[0-9]+$")
set(TQBSE_VERSION)
foreach(part MAJOR MINOR PATCH BUILD)
  set(number)
  foreach(line ${tqbse_version_lines})
    if(line MATCHES "^#define TQBSE_VERSION_${part} +([0-9]+)$")
      set(number ${CMAKE_MATCH_1})
    endif()
  endforeach()
  if(number STREQUAL "")
    message(FATAL_ERROR "TQBSE_VERSION_${part} missing from include/tqBsePluginControlDll.h")
  endif()
  list(APPEND TQBSE_VERSION ${number})
endforeach()
list(JOIN TQBSE_VERSION "." TQBSE_VERSION)

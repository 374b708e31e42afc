# The Windows DLL. Included from the root CMakeLists.txt when building for
# Windows (cross-built with cmake/mingw-w64-x86_64.cmake or
# cmake/mingw-w64-i686.cmake), right after the tqBsePluginControlDll target
# is defined:
#   - tqBsePluginControlDll.dll with exactly the exports of the public
#     headers (the flat exports and the session API), listed in a .def file
#     generated from those headers;
#   - its import library tqBsePluginControlDll.lib (for MinGW and MSVC);
#   - a version resource with the project version;
#   - DllMain from windows/dllmain.cpp;
#   - libstdc++, libgcc and winpthread linked in, so that the DLL imports
#     only KERNEL32, WS2_32 and msvcrt;
#   - the Windows test programs (windows/tests).
enable_language(RC)

# Windows 7 is the oldest system the DLL runs on (WSA_FLAG_NO_HANDLE_INHERIT).
add_compile_definitions(_WIN32_WINNT=0x0601)
# Programs and the DLL side by side, as Windows looks for a program's DLLs
# in its own folder first.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
# The emulator needs Qt, which the cross toolchain does not have; the tests
# that need a server start the natively built one.
set(TQBSE_WINDOWS_NATIVE_EMULATOR "" CACHE FILEPATH
  "The natively built tqbse-emulator that the Windows tests start on loopback")

# The .def file: every TQBSE_API function of the public headers, nothing
# else. The root CMakeLists.txt counted their declarations; each must have
# given one name here.
file(STRINGS ${PROJECT_SOURCE_DIR}/include/tqBsePluginControlDll.h tqbse_api_lines REGEX "^TQBSE_API ")
file(STRINGS ${PROJECT_SOURCE_DIR}/include/tqbse_session.h tqbse_session_api_lines REGEX "^TQBSE_API ")
set(tqbse_exports "")
foreach(line IN LISTS tqbse_api_lines tqbse_session_api_lines)
  string(REGEX MATCH "(tqBsePluginControlDll|tqbse)_[A-Za-z0-9_]+\\(" name "${line}")
  string(REGEX REPLACE "\\($" "" name "${name}")
  list(APPEND tqbse_exports ${name})
endforeach()
list(LENGTH tqbse_exports tqbse_export_count)
math(EXPR tqbse_expected_exports "${TQBSE_EXPORT_COUNT} + ${TQBSE_SESSION_EXPORT_COUNT}")
if(NOT tqbse_export_count EQUAL tqbse_expected_exports)
  message(FATAL_ERROR "expected ${tqbse_expected_exports} exports in the public headers, found ${tqbse_export_count}")
endif()
list(JOIN tqbse_exports "\n    " tqbse_export_lines)
set(TQBSE_DEF_FILE ${PROJECT_BINARY_DIR}/tqBsePluginControlDll.def)
file(CONFIGURE OUTPUT ${TQBSE_DEF_FILE}
  CONTENT "LIBRARY tqBsePluginControlDll.dll\nEXPORTS\n    ${tqbse_export_lines}\n" @ONLY)

configure_file(${PROJECT_SOURCE_DIR}/windows/version.rc.in ${PROJECT_BINARY_DIR}/tqBsePluginControlDll.rc @ONLY)

target_sources(tqBsePluginControlDll PRIVATE
  ${PROJECT_SOURCE_DIR}/windows/dllmain.cpp
  ${PROJECT_BINARY_DIR}/tqBsePluginControlDll.rc
  ${TQBSE_DEF_FILE})
set_target_properties(tqBsePluginControlDll PROPERTIES
  PREFIX ""
  IMPORT_PREFIX ""
  IMPORT_SUFFIX ".lib"
  RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin
  ARCHIVE_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib
  LINK_DEPENDS ${TQBSE_DEF_FILE})
target_link_options(tqBsePluginControlDll PRIVATE -static -static-libgcc -static-libstdc++ -Wl,--no-undefined)
install(FILES ${TQBSE_DEF_FILE} DESTINATION ${CMAKE_INSTALL_LIBDIR})

# The tests link the library's internals statically: the public header's
# declarations must not ask for the DLL's import stubs there.
target_compile_definitions(tqbse_internal INTERFACE TQBSE_BUILDING_LIBRARY)

# The host queries (platform/win32/host.cpp) read the IP helper's tables.
# Only the tool uses them, so the DLL does not import IPHLPAPI.
target_link_libraries(tqbse_platform PUBLIC iphlpapi)

# Compiled into every test program (tests/ and windows/tests/): turns a
# crash into a failing exit status under Wine.
set(TQBSE_WINDOWS_TEST_SOURCES ${PROJECT_SOURCE_DIR}/windows/crash_guard.cpp)

if(TQBSE_BUILD_TESTS)
  enable_testing()
  add_subdirectory(${PROJECT_SOURCE_DIR}/windows ${PROJECT_BINARY_DIR}/windows)
endif()

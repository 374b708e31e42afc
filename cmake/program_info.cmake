# tqbse_describe_build(TARGET): defines TQBSE_BUILD_TEXT for a program's
# --version line: the build type, the compiler and the system built for,
# e.g. "Release build, GNU 12.2.0, Linux x86_64". No date or path, so that
# the same sources give the same binary.
function(tqbse_describe_build target)
  set(type ${CMAKE_BUILD_TYPE})
  if(NOT type)
    set(type "unnamed")
  endif()
  target_compile_definitions(${target} PRIVATE
    "TQBSE_BUILD_TEXT=\"${type} build, ${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION}, ${CMAKE_SYSTEM_NAME} ${CMAKE_SYSTEM_PROCESSOR}\"")
endfunction()

# tqbse_relative_runpath(TARGET): an installed program finds the shared
# library beside it through its run path, relative to where the program is
# ($ORIGIN/../lib/x86_64-linux-gnu), so it runs from any prefix without
# ldconfig or LD_LIBRARY_PATH. An absolute CMAKE_INSTALL_LIBDIR stays absolute.
function(tqbse_relative_runpath target)
  if(WIN32 OR APPLE)
    return()
  endif()
  if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    set(path "${CMAKE_INSTALL_LIBDIR}")
  else()
    file(RELATIVE_PATH relative "/prefix/${CMAKE_INSTALL_BINDIR}" "/prefix/${CMAKE_INSTALL_LIBDIR}")
    set(path "$ORIGIN/${relative}")
  endif()
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "${path}")
endfunction()

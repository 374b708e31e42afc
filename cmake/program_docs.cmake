# Man pages and shell completion for the installed programs, generated at
# build time from the programs themselves, so they follow every change of
# an option or a call without a second copy to keep in step:
#   man/tqbse.1, man/tqbse-emulator.1  help2man over each program's --help,
#       with the sections --help has no room for from packaging/man/*.h2m,
#       and for tqbse the CALLS section from the call rows' texts
#   completion/tqbse  bash completion: options from `tqbse --help`, call
#       names from `tqbse list --json` (the call rows), files for PATH values
# Installed with the "tools" component (man pages gzipped as Debian wants
# them). Not in a cross build: the programs cannot run on the build machine.
if(CMAKE_CROSSCOMPILING OR NOT TARGET tqbse OR NOT TARGET tqbse-emulator)
  return()
endif()

set(tqbse_docs_dir ${PROJECT_BINARY_DIR}/docs-generated)

# The emulator's documentation and example config, where its man page names
# them: /usr/share/doc/tqbse-tools/ in the Debian package, the project's doc
# directory otherwise.
if(TQBSE_DEBIAN_PACKAGES)
  set(tqbse_tools_docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/tqbse-tools)
else()
  set(tqbse_tools_docdir ${CMAKE_INSTALL_DOCDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/docs/EMULATOR.md DESTINATION ${tqbse_tools_docdir} COMPONENT tools)
install(FILES ${PROJECT_SOURCE_DIR}/emulator/example-config.json DESTINATION ${tqbse_tools_docdir}/examples
  COMPONENT tools)
cmake_path(ABSOLUTE_PATH tqbse_tools_docdir BASE_DIRECTORY ${CMAKE_INSTALL_PREFIX} OUTPUT_VARIABLE TQBSE_TOOLS_DOCDIR)
find_program(TQBSE_HELP2MAN help2man)
find_program(TQBSE_GZIP gzip)
if(TQBSE_HELP2MAN AND TQBSE_GZIP)
  set(pages)
  foreach(program tqbse tqbse-emulator)
    # The sections --help has no room for, with the installed paths filled in.
    set(include ${tqbse_docs_dir}/${program}.h2m)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/man/${program}.h2m ${include} @ONLY)
    set(page ${tqbse_docs_dir}/man/${program}.1)
    if(program STREQUAL "tqbse" AND TARGET generate_reference)
      # The CALLS section: every export with its arguments and what it does.
      set(written ${tqbse_docs_dir}/man/${program}.h2m)
      add_custom_command(OUTPUT ${written}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${tqbse_docs_dir}/man
        COMMAND generate_reference man ${include} > ${written}
        DEPENDS generate_reference ${include}
        VERBATIM)
      set(include ${written})
    endif()
    # The version is given, not asked: --version also names the build type
    # and compiler, which would make the page differ between builders.
    add_custom_command(OUTPUT ${page} ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${tqbse_docs_dir}/man
      COMMAND ${TQBSE_HELP2MAN} --no-info --section=1 --manual="User Commands"
              --version-string=${PROJECT_VERSION} --include=${include} --output=${page} $<TARGET_FILE:${program}>
      COMMAND ${TQBSE_GZIP} -9n -c ${page} > ${page}.gz
      DEPENDS ${program} ${include}
      COMMENT "Generating the man page ${program}(1)"
      VERBATIM)
    list(APPEND pages ${page})
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
  endforeach()
  add_custom_target(tqbse_man_pages ALL DEPENDS ${pages})
else()
  message(STATUS "help2man or gzip not found: no man pages (scripts/install-deps.sh installs help2man)")
endif()

set(completion ${tqbse_docs_dir}/completion/tqbse)
set(completion_template ${PROJECT_SOURCE_DIR}/packaging/completion/tqbse.bash.in)
add_custom_command(OUTPUT ${completion}
  COMMAND ${CMAKE_COMMAND} -DTOOL=$<TARGET_FILE:tqbse> -DTEMPLATE=${completion_template} -DOUTPUT=${completion}
          -P ${PROJECT_SOURCE_DIR}/cmake/generate_completion.cmake
  DEPENDS tqbse ${completion_template} ${PROJECT_SOURCE_DIR}/cmake/generate_completion.cmake
  COMMENT "Generating the bash completion of tqbse"
  VERBATIM)
add_custom_target(tqbse_completion ALL DEPENDS ${completion})
install(FILES ${completion} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions COMPONENT tools)

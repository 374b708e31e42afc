# The browsable reference (tools/reference/build_html.py over
# `generate_reference json`, README.md and docs/) as the target `reference`,
# into <build>/reference. Built with every build when Debian's python3 has
# python3-markdown; installed with the development files, beside README.md
# and docs/*.md, under TQBSE_DEV_DOCDIR (cmake/packaging.cmake names the
# -dev package's /usr/share/doc folder).
if(CMAKE_CROSSCOMPILING OR NOT TARGET generate_reference)
  return()
endif()
if(NOT DEFINED TQBSE_DEV_DOCDIR)
  set(TQBSE_DEV_DOCDIR ${CMAKE_INSTALL_DOCDIR})
endif()
set(tqbse_python /usr/bin/python3)
execute_process(COMMAND ${tqbse_python} -c "import markdown" RESULT_VARIABLE no_markdown OUTPUT_QUIET ERROR_QUIET)
if(no_markdown)
  message(STATUS "python3-markdown not found: no HTML reference (scripts/install-deps.sh installs it)")
  return()
endif()
set(reference_dir ${PROJECT_BINARY_DIR}/reference)
set(reference_json ${PROJECT_BINARY_DIR}/reference.json)
file(GLOB reference_docs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md ${PROJECT_SOURCE_DIR}/docs/*.png)
set(reference_sources ${PROJECT_SOURCE_DIR}/tools/reference/build_html.py ${PROJECT_SOURCE_DIR}/tools/reference/search.js
    ${PROJECT_SOURCE_DIR}/tools/reference/style.css ${PROJECT_SOURCE_DIR}/README.md
    ${PROJECT_SOURCE_DIR}/python/src/tqbse/_generate.py ${reference_docs})
add_custom_command(OUTPUT ${reference_dir}/index.html
  COMMAND generate_reference json > ${reference_json}
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${reference_dir}
  COMMAND ${tqbse_python} ${PROJECT_SOURCE_DIR}/tools/reference/build_html.py ${reference_json} ${PROJECT_SOURCE_DIR}
          ${reference_dir}
  DEPENDS generate_reference ${reference_sources}
  COMMENT "Building the HTML reference"
  VERBATIM)
add_custom_target(reference ALL DEPENDS ${reference_dir}/index.html)
install(DIRECTORY ${reference_dir}/ DESTINATION ${TQBSE_DEV_DOCDIR}/reference COMPONENT dev)
file(GLOB guides ${PROJECT_SOURCE_DIR}/docs/*.md)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${TQBSE_DEV_DOCDIR} COMPONENT dev)
install(FILES ${guides} DESTINATION ${TQBSE_DEV_DOCDIR}/docs COMPONENT dev)

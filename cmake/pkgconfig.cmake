# The pkg-config file. By default it names its directories relative to
# where it is installed (${pcfiledir}), so it is right under any prefix
# given at install time (`cmake --install build --prefix DIR`), also when
# the tree is copied elsewhere; pkgconf applies PKG_CONFIG_SYSROOT_DIR to it
# without doubling the root. With TQBSE_PKGCONFIG_RELOCATABLE off it names
# CMAKE_INSTALL_PREFIX itself, which is what the Debian packages use: they
# are always installed under /usr, and every pkg-config implementation
# applies a sysroot to an absolute prefix the same way.
option(TQBSE_PKGCONFIG_RELOCATABLE "pkg-config file relative to its own directory" ON)
set(tqbse_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(TQBSE_PKGCONFIG_RELOCATABLE AND NOT IS_ABSOLUTE "${tqbse_pc_dir}")
  file(RELATIVE_PATH up "/prefix/${tqbse_pc_dir}" "/prefix")
  set(TQBSE_PC_PREFIX "\${pcfiledir}/${up}")
else()
  set(TQBSE_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
endif()
# An absolute directory (-DCMAKE_INSTALL_LIBDIR=/somewhere) is kept as given.
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(TQBSE_PC_${kind} "${CMAKE_INSTALL_${kind}}")
  else()
    set(TQBSE_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
configure_file(${CMAKE_CURRENT_LIST_DIR}/tqBsePluginControlDll.pc.in
  ${PROJECT_BINARY_DIR}/tqBsePluginControlDll.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/tqBsePluginControlDll.pc DESTINATION ${tqbse_pc_dir} COMPONENT dev)

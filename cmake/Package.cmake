# Install rules (GNU folders) and the Debian package. The package installs the
# programs, their man pages, the language file and the default INI files under
# <datadir>/opc-kv7, and the systemd unit; its maintainer scripts make the
# service account and the application folder /var/lib/opc-kv7.
include(GNUInstallDirs)
set(KV7_PACKAGING ${CMAKE_SOURCE_DIR}/packaging)
set(KV7_PACKAGE_OUT ${CMAKE_BINARY_DIR}/packaging)
set(KV7_SHARE ${CMAKE_INSTALL_DATADIR}/opc-kv7)

if(TARGET opc-kv7)
  install(TARGETS opc-kv7 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # The window module, in the private folder the server looks in (a module is not run).
  install(TARGETS ${KV7_WINDOW_MODULE} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/opc-kv7
          PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()
install(TARGETS kv7sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES data/OPC-KV7.LNG ${KV7_PACKAGING}/defaults/OPC-KV7.ini ${KV7_PACKAGING}/defaults/KV7.ini
        DESTINATION ${KV7_SHARE})

# The unit names the binary under the prefix configured here (/usr for the package).
configure_file(${KV7_PACKAGING}/opc-kv7.service.in ${KV7_PACKAGE_OUT}/opc-kv7.service @ONLY)
# systemd reads units from <prefix>/lib/systemd/system for both /usr and /usr/local.
install(FILES ${KV7_PACKAGE_OUT}/opc-kv7.service DESTINATION lib/systemd/system)

# Debian wants man pages and the changelog compressed without name or time stamp.
configure_file(${KV7_PACKAGING}/changelog.in ${KV7_PACKAGE_OUT}/changelog @ONLY)
set(KV7_COMPRESSED)
foreach(source ${KV7_PACKAGING}/man/opc-kv7.1 ${KV7_PACKAGING}/man/kv7sim.1 ${KV7_PACKAGE_OUT}/changelog)
  get_filename_component(name ${source} NAME)
  set(target ${KV7_PACKAGE_OUT}/${name}.gz)
  add_custom_command(OUTPUT ${target} COMMAND gzip -9n -c ${source} > ${target} DEPENDS ${source} VERBATIM)
  list(APPEND KV7_COMPRESSED ${target})
endforeach()
add_custom_target(package-files ALL DEPENDS ${KV7_COMPRESSED})
install(FILES ${KV7_PACKAGE_OUT}/opc-kv7.1.gz ${KV7_PACKAGE_OUT}/kv7sim.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${KV7_PACKAGING}/copyright ${KV7_PACKAGE_OUT}/changelog.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/opc-kv7)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME opc-kv7)
set(CPACK_PACKAGE_VENDOR ${KV7_COMPANY})
set(CPACK_PACKAGE_CONTACT "QUARLEN OPC-KV7 team <opc-kv7@quarlen.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "OPC UA server for gas-detection panels on serial lines")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "OPC-KV7 reads up to 16 gas-detection panels, one per serial line, decodes
the status lines they send and serves 478 items per line (zones, groups,
detectors, communication state) to OPC UA clients over opc.tcp.
.
The package runs it as the systemd service opc-kv7 under its own account,
with its settings in /var/lib/opc-kv7, and brings the panel simulator kv7sim.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The maintainer scripts make the account with adduser.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${KV7_PACKAGING}/debian/postinst ${KV7_PACKAGING}/debian/prerm
                                       ${KV7_PACKAGING}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_STRIP_FILES TRUE)
include(CPack)

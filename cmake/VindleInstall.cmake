# What `cmake --install` puts where, and the Debian package built from it
# by CPack (`./dev.sh package`). Programs go below the prefix; the INI file
# and the systemd unit go to the absolute places the programs and systemd
# look in, below DESTDIR when one is set.
include(GNUInstallDirs)

# The programs read /etc/vindle/<program>.ini (tftp/ini_location.h), so this
# does not follow the prefix.
set(VINDLE_INSTALL_SYSCONFDIR /etc/vindle)
# Debian 12 keeps the units of packages in /lib (merged /usr or not).
set(VINDLE_INSTALL_UNITDIR /lib/systemd/system)
set(VINDLE_APP_ID de.orvex.vindle)
set(VINDLE_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(VINDLE_GENERATED_DIR ${PROJECT_BINARY_DIR}/packaging)

foreach(program vindle vindlectl)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
# A daemon, section 8: sbin.
if(TARGET vindle-tftpd)
  install(TARGETS vindle-tftpd RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
endif()

if(TARGET vindle)
  install(FILES ${VINDLE_PACKAGING_DIR}/${VINDLE_APP_ID}.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  # The window's own icon at every size it is drawn in (ui/resources).
  foreach(size 16 24 32 48 64 128 256)
    install(FILES ${PROJECT_SOURCE_DIR}/ui/resources/icon_${size}.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
      RENAME ${VINDLE_APP_ID}.png)
  endforeach()
  configure_file(${VINDLE_PACKAGING_DIR}/${VINDLE_APP_ID}.metainfo.xml.in
    ${VINDLE_GENERATED_DIR}/${VINDLE_APP_ID}.metainfo.xml @ONLY)
  install(FILES ${VINDLE_GENERATED_DIR}/${VINDLE_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

if(TARGET vindle-tftpd)
  install(FILES ${VINDLE_PACKAGING_DIR}/vindle-tftpd.ini DESTINATION ${VINDLE_INSTALL_SYSCONFDIR})
  # The unit names the program by its installed path, and CPack installs
  # with a prefix of its own: the path is filled in at install time.
  install(CODE "
    set(VINDLE_TFTPD_PATH \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_SBINDIR}/vindle-tftpd\")
    configure_file(\"${VINDLE_PACKAGING_DIR}/vindle-tftpd.service.in\"
      \"\$ENV{DESTDIR}${VINDLE_INSTALL_UNITDIR}/vindle-tftpd.service\" @ONLY)
    message(STATUS \"Installing: \$ENV{DESTDIR}${VINDLE_INSTALL_UNITDIR}/vindle-tftpd.service\")")
endif()

# Man pages from the Markdown sources in docs/man, when go-md2man is there.
find_program(VINDLE_GO_MD2MAN go-md2man)
find_program(VINDLE_GZIP gzip)
set(VINDLE_MAN_PAGES "")
if(TARGET vindle)
  list(APPEND VINDLE_MAN_PAGES vindle.1)
endif()
if(TARGET vindle-tftpd)
  list(APPEND VINDLE_MAN_PAGES vindle-tftpd.8)
endif()
if(TARGET vindlectl)
  list(APPEND VINDLE_MAN_PAGES vindlectl.1)
endif()
if(VINDLE_GO_MD2MAN AND VINDLE_GZIP)
  set(man_outputs "")
  foreach(page IN LISTS VINDLE_MAN_PAGES)
    configure_file(${PROJECT_SOURCE_DIR}/docs/man/${page}.md ${PROJECT_BINARY_DIR}/man/${page}.md @ONLY)
    add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/${page}.gz
      COMMAND ${VINDLE_GO_MD2MAN} -in ${page}.md -out ${page}
      COMMAND ${VINDLE_GZIP} -9nf ${page}
      DEPENDS ${PROJECT_BINARY_DIR}/man/${page}.md
      WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/man
      COMMENT "Man page ${page}"
      VERBATIM)
    string(REGEX REPLACE ".*\\." "" section ${page})
    install(FILES ${PROJECT_BINARY_DIR}/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
    list(APPEND man_outputs ${PROJECT_BINARY_DIR}/man/${page}.gz)
  endforeach()
  add_custom_target(vindle_man ALL DEPENDS ${man_outputs})
else()
  message(STATUS "go-md2man or gzip not found: no man pages (Debian package go-md2man)")
endif()

# Debian's place for the package's licence and history.
configure_file(${VINDLE_PACKAGING_DIR}/debian/changelog.in ${VINDLE_GENERATED_DIR}/changelog @ONLY)
if(VINDLE_GZIP)
  add_custom_command(OUTPUT ${VINDLE_GENERATED_DIR}/changelog.gz
    COMMAND ${VINDLE_GZIP} -9nkf changelog
    DEPENDS ${VINDLE_GENERATED_DIR}/changelog
    WORKING_DIRECTORY ${VINDLE_GENERATED_DIR}
    VERBATIM)
  add_custom_target(vindle_changelog ALL DEPENDS ${VINDLE_GENERATED_DIR}/changelog.gz)
  install(FILES ${VINDLE_GENERATED_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
install(FILES ${VINDLE_PACKAGING_DIR}/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# --- The Debian package ------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vindle)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Vindle developers <vindle@example.org>")
set(CPACK_PACKAGE_VENDOR "Vindle developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find, configure and update the boxes on the local network")
set(CPACK_PACKAGE_DESCRIPTION
  "Vindle finds the network boxes on the local segment by a broadcast search,
sets their IP configuration, reboots them, sets their password and updates
them from its built-in TFTP server. The package holds the window (vindle),
the fleet command line (vindlectl) and the standalone TFTP server
(vindle-tftpd) with a systemd service that is installed but not enabled.")
# The absolute /etc and /lib paths must land in the package, not on the
# machine that builds it.
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE "")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://vindle.example.org/)
# The runtime libraries come from dpkg-shlibdeps; setcap and adduser are
# called by the maintainer scripts.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcap2-bin, adduser")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${VINDLE_PACKAGING_DIR}/debian/postinst
  ${VINDLE_PACKAGING_DIR}/debian/prerm
  ${VINDLE_PACKAGING_DIR}/debian/postrm
  ${VINDLE_PACKAGING_DIR}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

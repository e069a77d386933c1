# What `cmake --install` puts where. Programs go below the prefix; the INI
# file and the systemd unit go to the absolute places the programs and
# systemd look in, below DESTDIR when one is set.
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
  # The unit names the program by its installed path, which is known only
  # at install time (cmake --install --prefix).
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

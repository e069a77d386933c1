# What `cmake --install` puts where. For now the man pages, built from the
# Markdown sources in docs/man when go-md2man is there.
include(GNUInstallDirs)

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

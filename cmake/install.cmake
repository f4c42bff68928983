# Install layout:
#   bin/tolva-speech
#   <libdir>/tolva-speech/tolva-speech-{ffmpeg,pulse,archive}.so   loaded on first use
#   share/man/man1/tolva-speech.1.gz
#   share/doc/tolva-speech/{README.md,copyright}
include(GNUInstallDirs)

set(TOLVA_MODULE_INSTALL_DIR "${CMAKE_INSTALL_LIBDIR}/tolva-speech")
set(TOLVA_DOC_INSTALL_DIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/tolva-speech")

# The binary finds its modules relative to its own real path, so the installed
# tree works under any prefix and from an unpacked package alike.
file(RELATIVE_PATH TOLVA_MODULE_DIR_FROM_BINARY
  "${CMAKE_INSTALL_FULL_BINDIR}" "${CMAKE_INSTALL_FULL_LIBDIR}/tolva-speech")
set_property(SOURCE src/platform/linux/modules.cpp APPEND PROPERTY
  COMPILE_DEFINITIONS "TOLVA_MODULE_DIR_FROM_BINARY=\"${TOLVA_MODULE_DIR_FROM_BINARY}\"")

install(TARGETS tolva-speech RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(TARGETS ${TOLVA_MODULES} LIBRARY DESTINATION "${TOLVA_MODULE_INSTALL_DIR}")
install(FILES "${TOLVA_MAN_PAGE_GZ}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")

install(FILES README.md packaging/copyright DESTINATION "${TOLVA_DOC_INSTALL_DIR}")

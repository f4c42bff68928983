# The man page tolva-speech(1), from its scdoc source. The version comes from
# project(), like everywhere else. The installed copy is compressed as man
# pages on Debian are (gzip -9n: no name, no timestamp).
find_program(SCDOC scdoc REQUIRED)
include(GNUInstallDirs)  # the page names installed paths

set(TOLVA_MAN_PAGE_DIR "${CMAKE_CURRENT_BINARY_DIR}/doc")
set(TOLVA_MAN_PAGE "${TOLVA_MAN_PAGE_DIR}/tolva-speech.1")
set(TOLVA_MAN_PAGE_GZ "${TOLVA_MAN_PAGE}.gz")
configure_file(doc/tolva-speech.1.scd "${TOLVA_MAN_PAGE_DIR}/tolva-speech.1.scd" @ONLY)

add_custom_command(
  OUTPUT "${TOLVA_MAN_PAGE}" "${TOLVA_MAN_PAGE_GZ}"
  COMMAND sh -c "\"$0\" < tolva-speech.1.scd > tolva-speech.1.new && mv tolva-speech.1.new tolva-speech.1 && gzip -9nc tolva-speech.1 > tolva-speech.1.gz"
          "${SCDOC}"
  DEPENDS "${TOLVA_MAN_PAGE_DIR}/tolva-speech.1.scd"
  WORKING_DIRECTORY "${TOLVA_MAN_PAGE_DIR}"
  COMMENT "Generating the man page tolva-speech(1)"
  VERBATIM)
add_custom_target(man-page ALL DEPENDS "${TOLVA_MAN_PAGE}" "${TOLVA_MAN_PAGE_GZ}")

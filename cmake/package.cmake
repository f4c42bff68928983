# The Debian package, made by CPack from the install rules (scripts/package):
# dist/tolva-speech_<version>_<arch>.deb. Its Depends come from the libraries
# the binary and its module link (dpkg-shlibdeps), plus the English model that
# the built-in en_US locale reads.
set(TOLVA_PACKAGE_MAINTAINER "tolva-speech developers <tolva-speech@example.org>"
  CACHE STRING "Maintainer field of the Debian package")
set(TOLVA_PACKAGE_HOMEPAGE "https://tolva-speech.example.org/" CACHE STRING "Homepage field of the Debian package")

# Debian's changelog format, so that the package carries one, as Debian
# packages do (changelog.gz beside the copyright file).
string(TIMESTAMP TOLVA_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(packaging/changelog.in "${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog" @ONLY)
add_custom_command(
  OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz"
  COMMAND sh -c "gzip -9nc changelog > changelog.gz"
  DEPENDS "${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog"
  WORKING_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}/packaging"
  VERBATIM)
add_custom_target(changelog ALL DEPENDS "${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz")
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz" DESTINATION "${TOLVA_DOC_INSTALL_DIR}")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tolva-speech)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "${TOLVA_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TOLVA_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${TOLVA_PACKAGE_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS pocketsphinx-en-us)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "on-device speech-to-text for desktop applications
tolva-speech gives a desktop application speech recognition that runs on
the machine itself, without a network service. The application starts it
as a child process and reads JSON from it.
.
One-shot subcommands report the speech set-up (probe), install and release
locale models, and turn an audio file of any format FFmpeg decodes into a
timed transcript (transcribe). The listen subcommand is a long-running
dictation service that speaks newline-delimited JSON on standard input and
output and transcribes the default microphone (PulseAudio or PipeWire) or a
replayed file as the user speaks.
.
Recognition runs on PocketSphinx; English (en-US) works out of the box with
the pocketsphinx-en-us model, and further locales can be installed from
model catalogs.")

include(CPack)

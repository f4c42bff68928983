# The casing lexicon of the written text, made at build time from the system
# word list (Debian's wamerican).
set(TOLVA_WORD_LIST /usr/share/dict/american-english CACHE FILEPATH "word list for the casing lexicon")
if(NOT EXISTS "${TOLVA_WORD_LIST}")
  message(FATAL_ERROR "${TOLVA_WORD_LIST} is missing: install wamerican (scripts/install-deps)")
endif()
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(TOLVA_CASING_LEXICON_SOURCE ${CMAKE_BINARY_DIR}/generated/text/casing_lexicon_words.cpp)
add_custom_command(
  OUTPUT ${TOLVA_CASING_LEXICON_SOURCE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/generated/text
  COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/cmake/casing_lexicon.py ${TOLVA_WORD_LIST}
          ${TOLVA_CASING_LEXICON_SOURCE}
  DEPENDS ${PROJECT_SOURCE_DIR}/cmake/casing_lexicon.py ${TOLVA_WORD_LIST}
  COMMENT "Casing lexicon from ${TOLVA_WORD_LIST}"
  VERBATIM)

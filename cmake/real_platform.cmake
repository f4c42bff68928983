# The real Linux platform and the shipped binary.
pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavformat libavcodec libswresample libavutil)
pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET libpulse)
pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
pkg_check_modules(ARCHIVE REQUIRED IMPORTED_TARGET libarchive)
pkg_check_modules(CRYPTO REQUIRED IMPORTED_TARGET libcrypto)

# pocketsphinx.pc names an include directory that does not exist, which an
# imported target refuses; keep only the directories that are there.
pkg_check_modules(SPHINX REQUIRED pocketsphinx)
set(SPHINX_EXISTING_INCLUDE_DIRS "")
foreach(dir IN LISTS SPHINX_INCLUDE_DIRS)
  if(IS_DIRECTORY "${dir}")
    list(APPEND SPHINX_EXISTING_INCLUDE_DIRS "${dir}")
  endif()
endforeach()

# A backend whose libraries the binary loads only on first use: built once,
# into the object library `objects` (which the tests and fuzz targets link
# in-process) and into the module `module`, whose entry is in `entry_source`.
# The module binds to the binary's own copy of the seam's types and errors.
function(tolva_add_module module objects entry_source)
  cmake_parse_arguments(PARSE_ARGV 3 ARG "" "" "SOURCES;LIBRARIES")
  add_library(${objects} OBJECT ${ARG_SOURCES})
  # Backend files keep local helpers of the same names: never one unity source.
  set_target_properties(${objects} PROPERTIES POSITION_INDEPENDENT_CODE ON UNITY_BUILD OFF)
  target_include_directories(${objects} PRIVATE src)
  target_link_libraries(${objects} PUBLIC ${ARG_LIBRARIES} nlohmann_json::nlohmann_json)
  add_library(${module} MODULE ${entry_source} $<TARGET_OBJECTS:${objects}>)
  set_target_properties(${module} PROPERTIES PREFIX "")
  target_include_directories(${module} PRIVATE src)
  target_link_libraries(${module} PRIVATE ${ARG_LIBRARIES})
endfunction()

file(GLOB FFMPEG_SOURCES CONFIGURE_DEPENDS src/platform/ffmpeg/*.cpp)
list(REMOVE_ITEM FFMPEG_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/ffmpeg/ffmpeg_module.cpp)
tolva_add_module(tolva-speech-ffmpeg tolva_ffmpeg src/platform/ffmpeg/ffmpeg_module.cpp
  SOURCES ${FFMPEG_SOURCES} LIBRARIES PkgConfig::FFMPEG)

file(GLOB PULSE_SOURCES CONFIGURE_DEPENDS src/platform/pulse/*.cpp)
list(REMOVE_ITEM PULSE_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/pulse/pulse_module.cpp)
tolva_add_module(tolva-speech-pulse tolva_pulse src/platform/pulse/pulse_module.cpp
  SOURCES ${PULSE_SOURCES} LIBRARIES PkgConfig::PULSE)

set(ARCHIVE_TOOL_SOURCES archive_download.cpp archive_extractor.cpp archive_tools.cpp download_pace.cpp sha256.cpp)
list(TRANSFORM ARCHIVE_TOOL_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/store/install/)
tolva_add_module(tolva-speech-archive tolva_archive src/platform/store/install/archive_module.cpp
  SOURCES ${ARCHIVE_TOOL_SOURCES} LIBRARIES PkgConfig::CURL PkgConfig::ARCHIVE PkgConfig::CRYPTO)
set(TOLVA_MODULES tolva-speech-ffmpeg tolva-speech-pulse tolva-speech-archive)

# The model store on its own, so that the fuzz targets need no engine; its
# archive tools are tolva_archive's.
file(GLOB_RECURSE STORE_SOURCES CONFIGURE_DEPENDS src/platform/store/*.cpp)
list(REMOVE_ITEM STORE_SOURCES ${ARCHIVE_TOOL_SOURCES} ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/store/install/archive_module.cpp)
add_library(tolva_store STATIC ${STORE_SOURCES})
target_link_libraries(tolva_store PUBLIC tolva_core)

file(GLOB_RECURSE REAL_SOURCES CONFIGURE_DEPENDS src/platform/linux/*.cpp src/platform/sphinx/*.cpp)
add_library(tolva_real STATIC ${REAL_SOURCES})
# Engine files keep local constants of the same names: never one unity source.
set_target_properties(tolva_real PROPERTIES UNITY_BUILD OFF)
target_include_directories(tolva_real SYSTEM PUBLIC ${SPHINX_EXISTING_INCLUDE_DIRS})
target_link_libraries(tolva_real PUBLIC tolva_core tolva_store ${SPHINX_LIBRARIES} ${CMAKE_DL_LIBS})

add_executable(tolva-speech src/main.cpp)
target_link_libraries(tolva-speech PRIVATE tolva_real)
# The modules bind to the binary's own copy of the seam's types and errors.
set_target_properties(tolva-speech PROPERTIES ENABLE_EXPORTS ON)
add_dependencies(tolva-speech ${TOLVA_MODULES})

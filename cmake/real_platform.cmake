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

# The model store on its own, so that the fuzz targets need no engine.
file(GLOB STORE_SOURCES CONFIGURE_DEPENDS src/platform/store/*.cpp)
add_library(tolva_store STATIC ${STORE_SOURCES})
target_link_libraries(tolva_store PUBLIC tolva_core PkgConfig::CURL PkgConfig::ARCHIVE PkgConfig::CRYPTO)

file(GLOB_RECURSE REAL_SOURCES CONFIGURE_DEPENDS
  src/platform/linux/*.cpp src/platform/sphinx/*.cpp src/platform/pulse/*.cpp)
add_library(tolva_real STATIC ${REAL_SOURCES})
target_include_directories(tolva_real SYSTEM PUBLIC ${SPHINX_EXISTING_INCLUDE_DIRS})
target_link_libraries(tolva_real PUBLIC tolva_core tolva_store ${SPHINX_LIBRARIES}
  PkgConfig::PULSE ${CMAKE_DL_LIBS})

# FFmpeg's backend, built once: into the module the binary loads on first use,
# and into the tests that use it in-process.
file(GLOB FFMPEG_SOURCES CONFIGURE_DEPENDS src/platform/ffmpeg/*.cpp)
list(REMOVE_ITEM FFMPEG_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/ffmpeg/ffmpeg_module.cpp)
add_library(tolva_ffmpeg OBJECT ${FFMPEG_SOURCES})
# Its files keep local helpers of the same names: never one unity source.
set_target_properties(tolva_ffmpeg PROPERTIES POSITION_INDEPENDENT_CODE ON UNITY_BUILD OFF)
target_include_directories(tolva_ffmpeg PRIVATE src)
target_link_libraries(tolva_ffmpeg PUBLIC PkgConfig::FFMPEG)

add_library(tolva-speech-ffmpeg MODULE src/platform/ffmpeg/ffmpeg_module.cpp $<TARGET_OBJECTS:tolva_ffmpeg>)
set_target_properties(tolva-speech-ffmpeg PROPERTIES PREFIX "")
target_include_directories(tolva-speech-ffmpeg PRIVATE src)
target_link_libraries(tolva-speech-ffmpeg PRIVATE PkgConfig::FFMPEG)

add_executable(tolva-speech src/main.cpp)
target_link_libraries(tolva-speech PRIVATE tolva_real)
# The module binds to the binary's own copy of the seam's types and errors.
set_target_properties(tolva-speech PROPERTIES ENABLE_EXPORTS ON)
add_dependencies(tolva-speech tolva-speech-ffmpeg)

# The real Linux platform and the shipped binary.
file(GLOB_RECURSE REAL_SOURCES CONFIGURE_DEPENDS
  src/platform/linux/*.cpp src/platform/sphinx/*.cpp src/platform/store/*.cpp
  src/platform/ffmpeg/*.cpp src/platform/pulse/*.cpp)
add_library(tolva_real STATIC ${REAL_SOURCES})
target_link_libraries(tolva_real PUBLIC tolva_core)

add_executable(tolva-speech src/main.cpp)
target_link_libraries(tolva-speech PRIVATE tolva_real)

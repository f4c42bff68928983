#include "platform/ffmpeg/ffmpeg_module.hpp"

#include "platform/ffmpeg/ffmpeg_audio.hpp"

extern "C" __attribute__((visibility("default"))) const tolva::ffmpeg::ModuleApi* tolvaFfmpegModule() {
  static const tolva::ffmpeg::ModuleApi api{&tolva::ffmpeg::openAudioFile, &tolva::ffmpeg::makeConverter,
                                            &tolva::ffmpeg::openAudioStream};
  return &api;
}

#include "platform/ffmpeg/ffmpeg_audio.hpp"
#include "platform/ffmpeg/ffmpeg_stream.hpp"

namespace tolva::ffmpeg {

std::unique_ptr<AudioStream> openAudioStream(const AudioStreamRequest& request) {
  auto input = std::make_shared<StreamInput>(request.path);
  if (request.raw) return makeRawPcmStream(std::move(input), *request.raw);
  return makeSniffedStream(std::move(input));
}

}  // namespace tolva::ffmpeg

// Fuzz target: audio files through the FFmpeg backend. The input is written
// to a file that is opened and read to its end, in reads of varying size.
// Opening throws PlatformError or gives a usable format (a positive rate, 1 to
// 64 channels, float samples) and a length of at least 0. Reads then deliver
// exactly `length` frames, never more than asked for, or throw PlatformError;
// a read that ends short of the length without an error is a finding.
//
// Reading stops after maxFrames: a header may rightly declare hours of audio
// (a 1 Hz rate), and decoding it all is work, not a fault.
#include <cmath>
#include <cstdint>

#include "platform/ffmpeg/ffmpeg_audio.hpp"
#include "platform/platform_error.hpp"
#include "support/fuzz_support.hpp"

namespace tolva::fuzz {
namespace {

constexpr std::int64_t maxFrames = std::int64_t{1} << 22;
constexpr std::uint32_t bufferFrames = 4096;
// Read sizes in turn: whole buffers, single frames, and sizes that split
// decoded frames at odd places.
constexpr std::uint32_t readSizes[] = {bufferFrames, 1, 333, 4095};

void checkFormat(const AudioFormat& format) {
  require(std::isfinite(format.sampleRate) && format.sampleRate >= 1, "an unusable sample rate was accepted");
  require(format.channelCount >= 1 && format.channelCount <= 64, "an unusable channel count was accepted");
  require(format.commonFormat == CommonFormat::float32, "the processing format is not float");
}

void readAll(AudioFile& file) {
  AudioFormat format = file.processingFormat();
  checkFormat(format);
  std::int64_t length = file.length();
  require(length >= 0, "a negative length");
  auto buffer = PcmBuffer::make(format, bufferFrames);
  require(buffer.has_value(), "no buffer for an accepted format");
  std::int64_t delivered = 0;
  for (std::size_t turn = 0; delivered < std::min(length, maxFrames); ++turn) {
    std::uint32_t wanted = readSizes[turn % std::size(readSizes)];
    try {
      file.read(*buffer, wanted);
    } catch (const PlatformError&) {
      return;
    }
    require(buffer->frameLength <= wanted, "a read delivered more frames than asked for");
    require(buffer->frameLength > 0, [&] {
      return "the audio ended after " + std::to_string(delivered) + " of " + std::to_string(length) +
             " frames without an error";
    });
    delivered += buffer->frameLength;
    require(delivered <= length, "reads delivered more than the length");
  }
  if (delivered < length) return;  // stopped at maxFrames
  file.read(*buffer, bufferFrames);
  require(buffer->frameLength == 0, "a read after the length delivered frames");
}

}  // namespace
}  // namespace tolva::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tolva::fuzz;
  auto path = scratchDirectory() / "input";
  writeFile(path, data, size);
  std::unique_ptr<tolva::AudioFile> file;
  try {
    file = tolva::ffmpeg::openAudioFile(path.string());
  } catch (const tolva::PlatformError&) {
    return 0;
  }
  require(file != nullptr, "opening gave no file and no error");
  readAll(*file);
  return 0;
}

// The FFmpeg audio backend on real files made at test time from one librivox
// clip (7.1 s of speech, 16 kHz mono, 113600 frames), and its converter.

#include "platform/ffmpeg/ffmpeg_audio.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/platform_error.hpp"
#include "support/run_tool.hpp"
#include "support/temp_dir.hpp"

namespace tolva {
namespace {

namespace fs = std::filesystem;

const std::string speechClip =
    "/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0870.wav";
constexpr double clipFrames = 113600;
constexpr double clipRate = 16000;

struct Channels {
  std::vector<std::vector<float>> samples;
  std::int64_t frames() const { return samples.empty() ? 0 : static_cast<std::int64_t>(samples[0].size()); }
};

// Reads the whole file in chunks of an odd size, so reads end inside decoded frames.
Channels readAll(AudioFile& file, std::uint32_t chunk = 1000) {
  auto buffer = PcmBuffer::make(file.processingFormat(), chunk + 7);
  Channels all;
  all.samples.resize(file.processingFormat().channelCount);
  for (int guard = 0; guard < 100000; ++guard) {
    file.read(*buffer, chunk);
    if (buffer->frameLength == 0) break;
    for (std::size_t c = 0; c < all.samples.size(); ++c) {
      const auto& channel = buffer->channels[c];
      all.samples[c].insert(all.samples[c].end(), channel.begin(), channel.begin() + buffer->frameLength);
    }
  }
  return all;
}

double rms(const std::vector<float>& samples) {
  double sum = 0;
  for (float s : samples) sum += double(s) * s;
  return samples.empty() ? 0 : std::sqrt(sum / samples.size());
}

// ---- files ----

struct FileCase {
  std::string name;
  std::vector<std::string> encoderArgs;  // between the input and the output file
  std::string fileName;
  int rate;
  std::uint32_t channels;
  int lengthTolerance;  // frames: 0 for lossless codecs, a codec frame or two of delay and padding otherwise
};

std::ostream& operator<<(std::ostream& out, const FileCase& c) { return out << c.name; }

const std::vector<FileCase> fileCases = {
    {"wav", {"-c:a", "pcm_s16le", "-ar", "22050", "-ac", "2"}, "speech.wav", 22050, 2, 0},
    {"flac", {"-ar", "22050", "-ac", "2"}, "speech.flac", 22050, 2, 0},
    {"mp3", {"-ar", "24000", "-ac", "1"}, "speech.mp3", 24000, 1, 2304},
    {"mp3NoXing", {"-write_xing", "0", "-ar", "16000", "-ac", "1"}, "noxing.mp3", 16000, 1, 2304},
    {"m4a", {"-c:a", "aac", "-ar", "44100", "-ac", "2"}, "speech.m4a", 44100, 2, 2048},
    {"adtsAac", {"-c:a", "aac", "-f", "adts"}, "speech.aac", 16000, 1, 2048},
    {"oggVorbis", {"-c:a", "libvorbis", "-ar", "32000", "-ac", "2"}, "speech.ogg", 32000, 2, 2048},
    {"opus", {"-c:a", "libopus"}, "speech.opus", 48000, 1, 2048},
};

// Scratch space for one test process, removed at exit.
const test::TempDir& files() {
  static const test::TempDir dir;
  return dir;
}

// The speech clip encoded with `encoderArgs` into `fileName`, made on first use.
fs::path encoded(const std::vector<std::string>& encoderArgs, const std::string& fileName) {
  fs::path out = files().path() / fileName;
  if (fs::exists(out)) return out;
  std::vector<std::string> args = {"-nostdin", "-v", "error", "-y", "-i", speechClip};
  args.insert(args.end(), encoderArgs.begin(), encoderArgs.end());
  args.push_back(out.string());
  auto run = test::runTool("/usr/bin/ffmpeg", args);
  EXPECT_EQ(run.status, 0) << run.err;
  return out;
}

fs::path encoded(const std::string& caseName) {
  for (const auto& c : fileCases) {
    if (c.name == caseName) return encoded(c.encoderArgs, c.fileName);
  }
  throw std::logic_error("no file case " + caseName);
}

class FfmpegAudioFileTest : public testing::TestWithParam<FileCase> {};

TEST_P(FfmpegAudioFileTest, OpensAtItsFormatAndReadsExactlyItsLength) {
  const FileCase& c = GetParam();
  auto file = ffmpeg::openAudioFile(encoded(c.encoderArgs, c.fileName).string());
  AudioFormat format = file->processingFormat();
  EXPECT_EQ(format, (AudioFormat{double(c.rate), c.channels, CommonFormat::float32}));

  double expected = clipFrames * c.rate / clipRate;
  EXPECT_NEAR(double(file->length()), expected, c.lengthTolerance + 0.5);

  Channels all = readAll(*file);
  EXPECT_EQ(all.frames(), file->length());
  auto buffer = PcmBuffer::make(format, 64);
  file->read(*buffer, 64);
  EXPECT_EQ(buffer->frameLength, 0u) << "reads stay at the end";

  // Speech, not silence or misread samples: every channel near the source's
  // level, which the encoder's mono-to-stereo upmix lowers by 3 dB.
  auto source = ffmpeg::openAudioFile(speechClip);
  double level = rms(readAll(*source).samples[0]) * (c.channels == 2 ? std::numbers::sqrt2 / 2 : 1.0);
  for (const auto& channel : all.samples) EXPECT_NEAR(rms(channel), level, 0.1 * level);
}

INSTANTIATE_TEST_SUITE_P(Containers, FfmpegAudioFileTest, testing::ValuesIn(fileCases),
                         [](const auto& info) { return info.param.name; });

TEST(FfmpegLosslessTest, DecodesToTheSourceSamples) {
  auto source = ffmpeg::openAudioFile(speechClip);
  ASSERT_EQ(source->length(), clipFrames);
  Channels expected = readAll(*source, 4096);
  fs::path flac = encoded({"-c:a", "flac"}, "same.flac");
  Channels decoded = readAll(*ffmpeg::openAudioFile(flac.string()), 333);
  ASSERT_EQ(decoded.frames(), clipFrames);
  EXPECT_EQ(decoded.samples, expected.samples);
  // s16 scaled into [-1, 1): the clip has real speech levels.
  float peak = 0;
  for (float s : expected.samples[0]) peak = std::max(peak, std::abs(s));
  EXPECT_GT(peak, 0.05f);
  EXPECT_LT(peak, 1.0f);
}

// ---- bad input ----

struct BadInput {
  std::string name;
  std::string expectedText;  // part of the description
};

std::ostream& operator<<(std::ostream& out, const BadInput& c) { return out << c.name; }

class FfmpegBadInputTest : public testing::TestWithParam<BadInput> {
 protected:
  // Builds the named bad input and returns its path.
  static fs::path make(const std::string& name) {
    auto cut = [](const fs::path& from, const std::string& to, std::uintmax_t bytes) {
      std::ifstream in(from, std::ios::binary);
      std::string data(bytes, '\0');
      in.read(data.data(), static_cast<std::streamsize>(bytes));
      return files().write(to, data);
    };
    if (name == "garbage") {
      std::string bytes;
      for (unsigned i = 0, x = 12345; i < 8192; ++i) bytes.push_back(char((x = x * 1103515245 + 12345) >> 16));
      return files().write("garbage.bin", bytes);
    }
    if (name == "zeros") return files().write("zeros.wav", std::string(8192, '\0'));
    if (name == "empty") return files().write("empty.wav", "");
    if (name == "directory") return files().path();
    if (name == "missing") return files().path() / "missing.wav";
    if (name == "noAudioStream") return files().write("subtitles.srt", "1\n00:00:01,000 --> 00:00:02,000\nHello\n\n");
    if (name == "emptySampleTableM4a") {
      // Every chunk of the sample-to-chunk table holds no samples: the file
      // states its duration, yet the demuxer finds no packet and says nothing.
      std::ifstream in(encoded("m4a"), std::ios::binary);
      std::string data((std::istreambuf_iterator<char>(in)), {});
      std::size_t box = data.find("stsc");
      EXPECT_NE(box, std::string::npos);
      auto word = [&](std::size_t at) {
        return std::uint32_t(std::uint8_t(data[at])) << 24 | std::uint32_t(std::uint8_t(data[at + 1])) << 16 |
               std::uint32_t(std::uint8_t(data[at + 2])) << 8 | std::uint32_t(std::uint8_t(data[at + 3]));
      };
      // After the type: version and flags, the entry count, then entries of
      // first chunk, samples per chunk and description index.
      std::uint32_t entries = word(box + 8);
      for (std::uint32_t i = 0; i < entries; ++i) data.replace(box + 12 + 12 * i + 4, 4, std::string(4, '\0'));
      return files().write("empty-table.m4a", data);
    }
    if (name.starts_with("damaged")) {
      // From a quarter to nine tenths of the file, one byte in every 64
      // flipped: those pages or packets fail their checks, as on a failing
      // disk, while the last page still states the whole duration.
      fs::path whole = encoded(name == "damagedOgg" ? "oggVorbis" : name == "damagedOpus" ? "opus" : "m4a");
      std::ifstream in(whole, std::ios::binary);
      std::string data((std::istreambuf_iterator<char>(in)), {});
      for (std::size_t at = data.size() / 4; at < data.size() * 9 / 10; at += 64)
        data[at] = static_cast<char>(data[at] ^ 0x5A);
      return files().write("damaged-" + whole.filename().string(), data);
    }
    fs::path whole = encoded(name == "truncatedM4a" ? "m4a" : name == "truncatedWav" ? "wav" : "flac");
    auto size = fs::file_size(whole);
    // Half the M4A loses its index at the end; the WAV ends inside a sample; the FLAC inside a frame.
    return cut(whole, "cut-" + whole.filename().string(), name == "truncatedWav" ? size - 3 : size / 2);
  }
};

TEST_P(FfmpegBadInputTest, FailsWithPlatformTextAtOpenOrRead) {
  const BadInput& c = GetParam();
  fs::path path = make(c.name);
  std::string description;
  testing::internal::CaptureStderr();
  try {
    auto file = ffmpeg::openAudioFile(path.string());
    readAll(*file);
  } catch (const PlatformError& error) {
    description = error.what();
  }
  std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_NE(description.find(c.expectedText), std::string::npos) << "description: " << description;
  EXPECT_EQ(printed, "") << "FFmpeg's log reached stderr";
}

INSTANTIATE_TEST_SUITE_P(Files, FfmpegBadInputTest,
                         testing::Values(BadInput{"garbage", "cannot open audio file: "},
                                         BadInput{"zeros", "Invalid data found when processing input"},
                                         BadInput{"empty", "Invalid data found when processing input"},
                                         BadInput{"directory", "Is a directory"},
                                         BadInput{"missing", "No such file or directory"},
                                         BadInput{"noAudioStream", "no decodable audio stream"},
                                         BadInput{"truncatedM4a", "moov atom not found"},
                                         BadInput{"truncatedWav", "Invalid PCM packet"},
                                         BadInput{"truncatedFlac", "Invalid data found when processing input"},
                                         BadInput{"damagedOgg", "the audio data is damaged"},
                                         BadInput{"damagedOpus", "the audio data is damaged"},
                                         BadInput{"damagedM4a", "cannot decode audio"},
                                         BadInput{"emptySampleTableM4a",
                                                  "the audio data is damaged: only 0.000 of the "}),
                         [](const auto& info) { return info.param.name; });

// Short files and silence are no damage.
TEST(FfmpegHonestFilesTest, ShortAndSilentCompressedFilesOpenWithTheirLength) {
  struct Case {
    std::vector<std::string> source;
    std::string fileName;
    double seconds;
  };
  const Case cases[] = {
      {{"-f", "lavfi", "-i", "anullsrc=r=16000:cl=mono", "-t", "2"}, "silence.ogg", 2},
      {{"-f", "lavfi", "-i", "sine=f=440:r=48000", "-t", "0.1"}, "short.opus", 0.1},
      {{"-f", "lavfi", "-i", "anullsrc=r=44100:cl=mono", "-t", "0.05", "-c:a", "aac"}, "short.m4a", 0.05},
      {{"-f", "lavfi", "-i", "anullsrc=r=44100:cl=mono", "-t", "2", "-c:a", "aac"}, "silence.m4a", 2},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"-nostdin", "-v", "error", "-y"};
    args.insert(args.end(), c.source.begin(), c.source.end());
    fs::path path = files().path() / c.fileName;
    args.push_back(path.string());
    ASSERT_EQ(test::runTool("/usr/bin/ffmpeg", args).status, 0) << c.fileName;
    auto file = ffmpeg::openAudioFile(path.string());
    double seconds = static_cast<double>(readAll(*file).frames()) / file->processingFormat().sampleRate;
    EXPECT_NEAR(seconds, c.seconds, 0.05) << c.fileName;
  }
}

// ---- converter ----

PcmBuffer tone(const AudioFormat& format, std::uint32_t frames, std::int64_t startFrame) {
  auto buffer = *PcmBuffer::make(format, frames);
  buffer.frameLength = frames;
  for (std::uint32_t c = 0; c < format.channelCount; ++c) {
    for (std::uint32_t i = 0; i < frames; ++i) {
      double t = double(startFrame + i) / format.sampleRate;
      buffer.channels[c][i] = float(0.5 * std::sin(2 * std::numbers::pi * (300.0 + 100 * c) * t));
    }
  }
  return buffer;
}

// Converts `input` once into a buffer of `capacity`, handing it over on the
// first request and answering `then` afterwards.
PcmBuffer convertOnce(AudioConverter& converter, const AudioFormat& to, const PcmBuffer* input, std::uint32_t capacity,
                      ConverterInputStatus then = ConverterInputStatus::noDataNow) {
  auto output = *PcmBuffer::make(to, capacity);
  bool handedOver = input == nullptr;
  converter.convert(output, [&](ConverterInputStatus& status) -> const PcmBuffer* {
    if (!handedOver) {
      handedOver = true;
      status = ConverterInputStatus::haveData;
      return input;
    }
    status = then;
    return nullptr;
  });
  return output;
}

void append(Channels& all, const PcmBuffer& buffer) {
  all.samples.resize(buffer.format.channelCount);
  for (std::size_t c = 0; c < all.samples.size(); ++c) {
    all.samples[c].insert(all.samples[c].end(), buffer.channels[c].begin(),
                          buffer.channels[c].begin() + buffer.frameLength);
  }
}

struct ConversionCase {
  std::string name;
  AudioFormat from;
  AudioFormat to;
};

std::ostream& operator<<(std::ostream& out, const ConversionCase& c) { return out << c.name; }

class FfmpegConverterTest : public testing::TestWithParam<ConversionCase> {};

// Converting buffer by buffer gives what converting everything at once gives:
// the resampler's state crosses buffer edges and nothing is flushed early.
TEST_P(FfmpegConverterTest, StreamingKeepsDurationAndState) {
  const auto& [name, from, to] = GetParam();
  constexpr std::uint32_t bufferFrames = 4096;
  constexpr int buffers = 40;
  double ratio = to.sampleRate / from.sampleRate;
  auto capacityFor = [&](std::uint32_t frames) { return std::uint32_t(frames * ratio) + 64; };

  auto streaming = ffmpeg::makeConverter(from, to);
  ASSERT_NE(streaming, nullptr);
  Channels streamed;
  for (int i = 0; i < buffers; ++i) {
    PcmBuffer input = tone(from, bufferFrames, std::int64_t(i) * bufferFrames);
    append(streamed, convertOnce(*streaming, to, &input, capacityFor(bufferFrames)));
  }
  double expectedFrames = buffers * bufferFrames * ratio;
  EXPECT_LE(streamed.frames(), expectedFrames + 1);
  EXPECT_GE(streamed.frames(), expectedFrames - 64) << "only the resampler's delay is held back";
  append(streamed, convertOnce(*streaming, to, nullptr, 4096, ConverterInputStatus::endOfStream));
  EXPECT_NEAR(double(streamed.frames()), expectedFrames, 2);

  auto whole = ffmpeg::makeConverter(from, to);
  PcmBuffer everything = tone(from, buffers * bufferFrames, 0);
  Channels once;
  append(once, convertOnce(*whole, to, &everything, capacityFor(everything.frameLength) + 4096,
                           ConverterInputStatus::endOfStream));
  ASSERT_EQ(once.frames(), streamed.frames());
  for (std::size_t c = 0; c < to.channelCount; ++c) {
    double worst = 0;
    for (std::size_t i = 0; i < once.samples[c].size(); ++i) {
      worst = std::max(worst, double(std::abs(once.samples[c][i] - streamed.samples[c][i])));
    }
    EXPECT_LT(worst, 1e-5) << "channel " << c;
    EXPECT_GT(rms(streamed.samples[c]), 0.2) << "the tone survives at about its level";
    EXPECT_LT(rms(streamed.samples[c]), 0.5);
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, FfmpegConverterTest,
                         testing::Values(ConversionCase{"stereo48kToMono16k", {48000, 2}, {16000, 1}},
                                         ConversionCase{"mono44kToMono16k", {44100, 1}, {16000, 1}},
                                         ConversionCase{"mono16kToStereo48k", {16000, 1}, {48000, 2}},
                                         ConversionCase{"stereo22kToStereo16k", {22050, 2}, {16000, 2}}),
                         [](const auto& info) { return info.param.name; });

TEST(FfmpegConverterPassThroughTest, EqualFormatsPassSamplesThroughUnchanged) {
  AudioFormat format{16000, 1};
  auto converter = ffmpeg::makeConverter(format, format);
  ASSERT_NE(converter, nullptr);
  PcmBuffer input = tone(format, 4096, 0);
  // A small output takes the buffer in pieces; what does not fit waits for the next call.
  Channels out;
  append(out, convertOnce(*converter, format, &input, 1000));
  EXPECT_EQ(out.frames(), 1000);
  for (int i = 0; i < 10 && out.frames() < 4096; ++i) append(out, convertOnce(*converter, format, nullptr, 1000));
  ASSERT_EQ(out.frames(), 4096);
  EXPECT_EQ(out.samples[0], input.channels[0]);
}

TEST(FfmpegConverterPassThroughTest, NoConverterForFormatsWithoutRateOrChannels) {
  EXPECT_EQ(ffmpeg::makeConverter({0, 1}, {16000, 1}), nullptr);
  EXPECT_EQ(ffmpeg::makeConverter({48000, 2}, {16000, 0}), nullptr);
  EXPECT_NE(ffmpeg::makeConverter({48000, 2}, {16000, 1}), nullptr);
}

}  // namespace
}  // namespace tolva

// Which stream starts are plain PCM WAV headers, read without FFmpeg's WAV
// demuxer, and where their samples begin.

#include "platform/ffmpeg/wav_stream_header.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tolva::ffmpeg {
namespace {

using State = WavHeaderScan::State;

std::string le(std::uint32_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

std::string chunk(const std::string& id, const std::string& body, std::uint32_t statedSize = 0) {
  std::string padded = body + (body.size() % 2 ? std::string(1, '\0') : "");
  return id + le(statedSize ? statedSize : static_cast<std::uint32_t>(body.size()), 4) + padded;
}

std::string fmt(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
                std::uint16_t blockAlign = 0) {
  if (!blockAlign) blockAlign = static_cast<std::uint16_t>(channels * bits / 8);
  return le(tag, 2) + le(channels, 2) + le(rate, 4) + le(rate * blockAlign, 4) + le(blockAlign, 2) + le(bits, 2);
}

std::string extensible(std::uint16_t subTag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
  const std::string guidTail("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
  return fmt(0xFFFE, channels, rate, bits) + le(22, 2) + le(bits, 2) + le(3, 4) + le(subTag, 2) + guidTail;
}

std::string wav(const std::string& chunks) { return "RIFF" + le(0xFFFFFFFF, 4) + "WAVE" + chunks; }

WavHeaderScan scan(const std::string& bytes) {
  return scanWavHeader({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

TEST(WavStreamHeader, PlainPcmHeadersGiveTheirLayoutAndWhereTheSamplesBegin) {
  struct Case {
    std::string name;
    std::string header;
    RawPcmFormat format;
    std::optional<std::uint32_t> dataBytes;
  };
  const std::string list = chunk("LIST", "INFOISFT" + le(5, 4) + "Lavf");
  const Case cases[] = {
      {"16-bit mono, metadata first", wav(chunk("fmt ", fmt(1, 1, 16000, 16)) + list + chunk("data", "", 32000)),
       {RawSampleFormat::s16le, 16000, 1}, 32000},
      {"float stereo, extensible", wav(chunk("fmt ", extensible(3, 2, 48000, 32)) + chunk("data", "", 0xFFFFFFFF)),
       {RawSampleFormat::f32le, 48000, 2}, std::nullopt},
      {"an odd chunk is padded", wav(chunk("junk", "abc") + chunk("fmt ", fmt(3, 1, 8000, 32)) + chunk("data", "", 0)),
       {RawSampleFormat::f32le, 8000, 1}, std::nullopt},
  };
  for (const auto& [name, header, format, dataBytes] : cases) {
    SCOPED_TRACE(name);
    WavHeaderScan whole = scan(header + "samples");
    ASSERT_EQ(whole.state, State::pcm);
    EXPECT_EQ(whole.header.format, format);
    EXPECT_EQ(whole.header.dataOffset, header.size());
    EXPECT_EQ(whole.header.dataBytes, dataBytes);
    // A stream that has sent only part of its header is waited for.
    for (std::size_t length = 0; length < header.size(); ++length) {
      ASSERT_EQ(scan(header.substr(0, length)).state, State::needMore) << length;
    }
  }
}

TEST(WavStreamHeader, EverythingElseGoesToTheContainerDecoder) {
  const std::string data = chunk("data", "", 100);
  const std::pair<std::string, std::string> cases[] = {
      {"Ogg", "OggS" + std::string(40, '\0')},
      {"RIFF of another kind", "RIFF" + le(100, 4) + "AVI " + std::string(40, '\0')},
      {"mu-law", wav(chunk("fmt ", fmt(7, 1, 8000, 8)) + data)},
      {"24-bit PCM", wav(chunk("fmt ", fmt(1, 1, 16000, 24)) + data)},
      {"extensible mu-law", wav(chunk("fmt ", extensible(7, 1, 8000, 8)) + data)},
      {"a block size that disagrees", wav(chunk("fmt ", fmt(1, 2, 16000, 16, 2)) + data)},
      {"no channels", wav(chunk("fmt ", fmt(1, 0, 16000, 16)) + data)},
      {"a rate of zero", wav(chunk("fmt ", fmt(1, 1, 0, 16)) + data)},
      {"samples before their format", wav(data + chunk("fmt ", fmt(1, 1, 16000, 16)))},
      {"two formats", wav(chunk("fmt ", fmt(1, 1, 16000, 16)) + chunk("fmt ", fmt(1, 1, 16000, 16)) + data)},
      {"a format chunk too long to wait for", wav(chunk("fmt ", fmt(1, 1, 16000, 16), 1 << 20))},
      {"metadata too long to wait for", wav(chunk("LIST", "", 1 << 20))},
  };
  for (const auto& [name, bytes] : cases) {
    EXPECT_EQ(scan(bytes).state, State::other) << name;
  }
}

}  // namespace
}  // namespace tolva::ffmpeg

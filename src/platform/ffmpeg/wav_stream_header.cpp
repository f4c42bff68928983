#include "platform/ffmpeg/wav_stream_header.hpp"

#include <algorithm>
#include <cstring>

namespace tolva::ffmpeg {
namespace {

constexpr std::uint16_t pcmTag = 1;
constexpr std::uint16_t floatTag = 3;
constexpr std::uint16_t extensibleTag = 0xFFFE;
// The extensible format's subformat GUID after its leading format tag.
constexpr std::uint8_t subformatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                            0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

std::uint16_t le16(const std::uint8_t* at) { return static_cast<std::uint16_t>(at[0] | (at[1] << 8)); }
std::uint32_t le32(const std::uint8_t* at) {
  return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}
WavHeaderScan ended(WavHeaderScan::State state) {
  WavHeaderScan scan;
  scan.state = state;
  return scan;
}

bool is(const std::uint8_t* at, const char* id) { return std::memcmp(at, id, 4) == 0; }

// The raw layout a format chunk describes, or nothing when it is not plain PCM.
std::optional<RawPcmFormat> pcmLayout(std::span<const std::uint8_t> chunk) {
  if (chunk.size() < 16) return std::nullopt;
  std::uint16_t tag = le16(&chunk[0]);
  std::uint16_t bits = le16(&chunk[14]);
  if (tag == extensibleTag) {
    if (chunk.size() < 40 || std::memcmp(&chunk[26], subformatTail, sizeof subformatTail) != 0) return std::nullopt;
    tag = le16(&chunk[24]);
  }
  RawPcmFormat format;
  if (tag == pcmTag && bits == 16) {
    format.sampleFormat = RawSampleFormat::s16le;
  } else if (tag == floatTag && bits == 32) {
    format.sampleFormat = RawSampleFormat::f32le;
  } else {
    return std::nullopt;
  }
  format.channels = le16(&chunk[2]);
  format.rate = le32(&chunk[4]);
  std::uint16_t blockAlign = le16(&chunk[12]);
  if (format.channels < 1 || format.channels > maxRawChannels || format.rate < 1 || format.rate > maxRawRate ||
      blockAlign != format.channels * bits / 8) {
    return std::nullopt;
  }
  return format;
}

}  // namespace

WavHeaderScan scanWavHeader(std::span<const std::uint8_t> bytes) {
  using State = WavHeaderScan::State;
  static constexpr std::uint8_t riff[4] = {'R', 'I', 'F', 'F'};
  std::size_t known = std::min<std::size_t>(bytes.size(), 4);
  if (!std::equal(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(known), riff)) return ended(State::other);
  if (bytes.size() < 12) return ended(State::needMore);
  if (!is(&bytes[8], "WAVE")) return ended(State::other);
  std::optional<RawPcmFormat> format;
  std::size_t at = 12;
  while (at <= maxWavHeaderBytes) {
    if (bytes.size() < at + 8) return ended(State::needMore);
    std::uint32_t size = le32(&bytes[at + 4]);
    if (is(&bytes[at], "data")) {
      if (!format) return ended(State::other);  // samples before their format
      WavPcmHeader header{*format, at + 8, std::nullopt};
      if (size != 0 && size != 0xFFFFFFFF) header.dataBytes = size;
      return {State::pcm, header};
    }
    std::size_t next = at + 8 + size + (size & 1);  // chunks start at even offsets
    if (is(&bytes[at], "fmt ")) {
      if (format || next > maxWavHeaderBytes) return ended(State::other);
      if (bytes.size() < at + 8 + size) return ended(State::needMore);
      format = pcmLayout(bytes.subspan(at + 8, size));
      if (!format) return ended(State::other);
    }
    at = next;
  }
  return ended(State::other);
}

}  // namespace tolva::ffmpeg

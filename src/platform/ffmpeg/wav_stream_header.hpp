#pragma once
// The header of a WAV stream that carries plain PCM (16-bit integer or 32-bit
// float samples, with a classic or an extensible format chunk). Such a
// stream is read as raw PCM: FFmpeg's WAV demuxer holds 64 KiB back on a
// stream to look for S/PDIF inside, two seconds of 16 kHz mono, before the
// first sample leaves. Any other WAV, or a header too long to be worth it,
// goes to FFmpeg.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/audio.hpp"

namespace tolva::ffmpeg {

// Headers longer than this (large metadata chunks) go to FFmpeg.
inline constexpr std::size_t maxWavHeaderBytes = 8192;

struct WavPcmHeader {
  RawPcmFormat format;
  std::size_t dataOffset = 0;               // where the samples begin
  std::optional<std::uint32_t> dataBytes;  // nothing when the writer left it open
};

struct WavHeaderScan {
  enum class State { needMore, other, pcm } state = State::needMore;
  WavPcmHeader header;  // with pcm
};

// Scans the first bytes of a stream; needMore when they end inside a header
// that may still turn out to be a plain PCM WAV.
WavHeaderScan scanWavHeader(std::span<const std::uint8_t> bytes);

}  // namespace tolva::ffmpeg

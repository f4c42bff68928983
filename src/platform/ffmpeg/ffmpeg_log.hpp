#pragma once
// FFmpeg's own log, kept off standard error. Every message is recorded per
// thread instead, so that an error can carry the detail FFmpeg logged while
// the failing call ran.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform_error.hpp"

namespace tolva::ffmpeg {

// Routes FFmpeg's log into the per-thread record. Idempotent; every entry
// point of this backend calls it before touching the libraries.
void captureLibraryLog();

// Forgets what this thread recorded, so the next error reports only its own detail.
void clearLibraryLog();

// The last complete error or warning line FFmpeg logged on this thread,
// prefixed with the component that logged it; empty when there is none.
std::string lastLibraryLogLine();

// Damage FFmpeg reported on this thread (error-level lines, such as a demuxer
// skipping a page whose checksum fails): a count that only grows, and the
// last such line.
struct LibraryDamage {
  std::int64_t errorLines = 0;
  std::string lastErrorLine;
};
LibraryDamage libraryDamage();

// FFmpeg's text for an error code (av_strerror).
std::string errorText(int code);

// "<action>: <error text> (<last logged line>)", the detail left out when
// nothing was logged.
PlatformError libraryError(std::string_view action, int code);

}  // namespace tolva::ffmpeg

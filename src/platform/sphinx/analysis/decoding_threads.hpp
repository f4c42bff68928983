#pragma once
// How many decoders file analysis runs at once. By default one per online
// processor, at most defaultMaximumThreads, and never more decoders than fit
// in a quarter of the memory available when the analysis starts: the first
// holds the model, each further one (a forked copy) what it writes. The environment variable
// TOLVA_SPEECH_THREADS overrides the default with a whole number from 1 to
// maxDecodingThreads (1 decodes one utterance after another on the reading
// thread), still bounded by memory. Unset, empty or holding anything else
// (then with one log line), the default holds. Each choice is logged as
// "speech.threads" with its count and what limited it.
//
// Thread contract: any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolva::sphinx {

inline constexpr const char* decodingThreadsVariable = "TOLVA_SPEECH_THREADS";
// More than this is never what anyone meant.
inline constexpr int maxDecodingThreads = 64;
// Beyond four, decoders mostly add memory: the reading thread and the
// utterance splitter keep about four busy.
inline constexpr int defaultMaximumThreads = 4;
// What a loaded decoder of the en-us model costs (its peak memory decoding a
// long file), and what each forked copy adds (the step in the summed
// proportional set size from one thread to two), both rounded up.
inline constexpr std::int64_t decoderBytes = std::int64_t{110} << 20;
inline constexpr std::int64_t forkedDecoderBytes = std::int64_t{40} << 20;

struct ThreadChoice {
  int count = 1;
  // "processors", "maximum" or "memory" for the default; "variable" or
  // "memory" for a count the variable asked for.
  std::string limitedBy;
};

// The count a value of the variable asks for, or nothing when it asks for none.
std::optional<int> parseDecodingThreads(std::string_view value);

// The online processors, at least 1 and at most maxDecodingThreads.
int onlineProcessors();

// MemAvailable of /proc/meminfo in bytes, or nothing when it cannot be read.
std::optional<std::int64_t> availableMemory();

// The choice for a requested count (or the default without one), given the
// online processors and the available memory (unknown: no memory bound).
ThreadChoice chooseDecodingThreads(std::optional<int> requested, int processors, std::optional<std::int64_t> available);

// The choice for this process now, from the environment; logged.
int decodingThreads();

}  // namespace tolva::sphinx

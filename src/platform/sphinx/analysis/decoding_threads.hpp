#pragma once
// How many decoders file analysis runs at once. The environment variable
// TOLVA_SPEECH_THREADS sets it: a whole number from 1 to maxDecodingThreads,
// where 1 decodes one utterance after another on the reading thread. Unset or
// empty, or holding anything else (then with one log line), the count is one
// per online processor.
//
// Thread contract: any thread.

#include <optional>
#include <string_view>

namespace tolva::sphinx {

inline constexpr const char* decodingThreadsVariable = "TOLVA_SPEECH_THREADS";
// Each decoder holds about 95 MB; more than this is never what anyone meant.
inline constexpr int maxDecodingThreads = 64;

// The count a value of the variable asks for, or nothing when it asks for none.
std::optional<int> parseDecodingThreads(std::string_view value);

// The online processors, at least 1 and at most maxDecodingThreads.
int onlineProcessors();

// The count from the environment, falling back to onlineProcessors(); an
// invalid value is logged ("speech.threadsIgnored").
int decodingThreads();

}  // namespace tolva::sphinx

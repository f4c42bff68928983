#pragma once
// Warming a dictation decoder: a short decode of synthetic voiced sound, so
// that the first session does not pay for the search's first allocations and
// first passes over the model's memory. What the decode hears is thrown away;
// the next analysis begins afresh (Decoder::beginAnalysis).

#include "platform/sphinx/decoder/decoder.hpp"

namespace tolva::sphinx {

// Throws PlatformError when the decoder fails.
void warmUp(Decoder& decoder);

}  // namespace tolva::sphinx

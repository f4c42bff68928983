#pragma once
// The speech engine of the Linux platform, on PocketSphinx. Locales and the
// asset inventory come from the model store; recognition from decoders of the
// installed models, kept loaded for reuse within the process.
//
// Audio for an analyzer is 16 kHz mono float (bestAvailableAudioFormat); file
// analysis also takes any other rate and channel count and converts it.
// Every result text starts with a space before each word, so that consecutive
// results read as running text when concatenated.

#include <memory>

#include "platform/speech.hpp"
#include "platform/store/model_store.hpp"

namespace tolva::sphinx {

class DecoderCache;

std::unique_ptr<SpeechEngine> makeSphinxEngine(std::unique_ptr<store::ModelStore> store);

// The same with a decoder cache the caller keeps, to share it or look into it,
// and a set number of decoders for file analysis (0: decodingThreads()).
std::unique_ptr<SpeechEngine> makeSphinxEngine(std::unique_ptr<store::ModelStore> store,
                                               std::shared_ptr<DecoderCache> cache, int fileDecodingThreads = 0);

}  // namespace tolva::sphinx

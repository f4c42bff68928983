#pragma once
// File analysis: reads an audio file in chunks, converts it to decoder samples
// and splits it into utterances at its pauses as it streams, and decodes each
// utterance whole (utterance_decoding.hpp) on a pool of decoders, one
// utterance per decoder at a time. Whole utterances give fewer word errors on
// the librivox clips than streaming decoding, which must estimate the
// cepstral mean as it goes; and since an utterance's result depends on it
// alone, utterances can be decoded side by side with the same results as one
// after another.
//
// Each utterance with words becomes one final result with its time range in
// seconds from the start of the audio and, when asked for, the number of
// distinct n-best texts. Results reach the sink in time order, each as soon as
// it and every earlier one are decoded. At most a few utterances per decoder
// wait to be decoded; reading waits for room, so memory does not grow with the
// length of the file.

#include <functional>
#include <optional>
#include <stop_token>

#include "platform/audio.hpp"
#include "platform/sphinx/analysis/decoding_progress.hpp"
#include "platform/sphinx/analysis/result_sink.hpp"
#include "platform/sphinx/analysis/voice_activity.hpp"
#include "platform/sphinx/decoder/decoder_cache.hpp"
#include "platform/sphinx/decoder/result_text_style.hpp"

namespace tolva::sphinx {

// The decoders of one file analysis: the first comes ready, so that a model
// that cannot be loaded is reported before any audio is read. The others, up
// to `threads` in all, are copies of it in forked processes
// (forked_decoder.hpp), which share its model's memory; `load` brings a
// decoder of this process's own only when no process can be forked. With one
// thread the utterances are decoded on the reading thread.
struct FileDecoders {
  DecoderLease first;
  std::function<DecoderLease()> load;
  int threads = 1;
};

// Analyses `file`, cutting it where `detector` hears pauses, and delivers
// results to `sink` as utterances are decoded, their texts from `writeText`.
// `progress` follows the utterances through decoding (decoding_progress.hpp);
// at the end, it counts the whole file.
// A stop request ends reading and decoding between utterances; every decoding
// thread has ended when this returns. Returns the time of the end of the last
// sample read, or nothing when the file had none. Throws PlatformError.
std::optional<double> analyzeFile(AudioFile& file, FileDecoders decoders, VoiceActivity& detector,
                                  const SplitterSettings& splitting, const ResultSink& sink,
                                  const ResultTextWriter& writeText, DecodingProgress& progress,
                                  std::stop_token stop);

}  // namespace tolva::sphinx

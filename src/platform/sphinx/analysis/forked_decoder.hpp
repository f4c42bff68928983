#pragma once
// ForkedDecoder: a decoder in a child process, forked from a loaded one, so
// that the model's pages (the language model, the dictionary, the acoustic
// model and the search's lexicon) are shared copy-on-write instead of loaded
// again: a second decoder costs what it writes while decoding, about a third
// of a loaded one. Utterances go to the child and their words come back
// through a socket pair.
//
// The child was forked from a process with other threads, so it touches
// nothing that another thread may have held locked at the fork: it decodes,
// writes its answers and nothing else (the log is silenced in it). It dies
// with its parent and ignores the terminal's signals, which are the parent's
// to handle. Destroying the ForkedDecoder kills and reaps the child.
//
// Thread contract: fork while no thread uses `decoder`; then decode() from
// one thread at a time, any thread.

#include <sys/types.h>

#include "platform/sphinx/analysis/utterance_decoding.hpp"

namespace tolva::sphinx {

class ForkedDecoder {
 public:
  // Forks a child that decodes with a copy of `decoder` as it is now, with
  // the n-best count when `alternatives`. Throws PlatformError when no
  // process can be made.
  ForkedDecoder(Decoder& decoder, bool alternatives);
  ~ForkedDecoder();
  ForkedDecoder(const ForkedDecoder&) = delete;
  ForkedDecoder& operator=(const ForkedDecoder&) = delete;

  // Decodes a whole utterance in the child. Throws PlatformError when the
  // child is gone or answers nonsense.
  UtteranceWords decode(std::span<const std::int16_t> samples);

  pid_t process() const { return child_; }

 private:
  pid_t child_ = -1;
  int socket_ = -1;
};

}  // namespace tolva::sphinx

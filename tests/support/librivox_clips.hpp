#pragma once
// The librivox clips of pocketsphinx-testdata: 16 kHz mono s16 WAV files of
// real speech with reference transcripts.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tolva::test {

// The numbers of the five clips, in order.
const std::vector<std::string>& librivoxClipNumbers();

// Path of a clip, e.g. librivoxClip("0880") for
// sense_and_sensibility_01_austen_64kb-0880.wav.
std::filesystem::path librivoxClip(const std::string& number);

// The reference words of a clip, lower case.
std::vector<std::string> librivoxReference(const std::string& number);

// The clip's samples (16 kHz mono), read from its WAV data chunk.
std::vector<std::int16_t> librivoxSamples(const std::string& number);

// The words of a text: lower case, letters, digits and apostrophes only.
std::vector<std::string> wordsOf(const std::string& text);

// Word-level edit distance: substitutions, insertions and deletions.
std::size_t wordErrors(const std::vector<std::string>& reference, const std::vector<std::string>& hypothesis);

// How many distinct words of `hypothesis` occur in `reference`.
std::size_t sharedWords(const std::vector<std::string>& reference, const std::vector<std::string>& hypothesis);

}  // namespace tolva::test

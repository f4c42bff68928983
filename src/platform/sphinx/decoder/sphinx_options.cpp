#include "platform/sphinx/decoder/sphinx_options.hpp"

#include <pocketsphinx.h>

#include <charconv>
#include <cstdint>

namespace tolva::sphinx {

std::string optionNumber(double value) {
  char text[32];
  auto [end, error] = std::to_chars(text, text + sizeof text, value);
  return std::string(text, error == std::errc() ? end : text);
}

SphinxOptions voiceOptions(const VoiceActivitySettings& voice) {
  return {{"-vad_threshold", optionNumber(voice.threshold)},
          {"-vad_startspeech", std::to_string(voice.speechFramesToStart)},
          {"-vad_prespeech", std::to_string(voice.framesBeforeSpeech)},
          {"-vad_postspeech", std::to_string(voice.silenceFramesToEnd)}};
}

cmd_ln_t* parseOptions(const SphinxOptions& options) {
  std::vector<std::string> words{""};  // the program name, which the parser skips
  for (const auto& [name, value] : options) {
    words.push_back(name);
    words.push_back(value);
  }
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  return cmd_ln_parse_r(nullptr, ps_args(), static_cast<std::int32_t>(argv.size()), argv.data(), TRUE);
}

}  // namespace tolva::sphinx

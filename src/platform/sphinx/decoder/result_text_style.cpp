#include "platform/sphinx/decoder/result_text_style.hpp"

#include <algorithm>
#include <cstdlib>

#include "output/log.hpp"
#include "platform/sphinx/decoder/decoder.hpp"

namespace tolva::sphinx {
namespace {

// Enough of a rejected value to recognise it in the log.
constexpr std::size_t loggedValueBytes = 40;

std::string timedWordsText(const std::vector<TimedWord>& words) {
  std::string text;
  for (const TimedWord& word : words) {
    text += ' ' + word.text + '@' + std::to_string(word.startFrame) + '-' + std::to_string(word.endFrame);
  }
  return text;
}

}  // namespace

std::optional<TextStyle> parseTextStyle(std::string_view value) {
  if (value == "raw") return TextStyle::raw;
  if (value == "formatted") return TextStyle::formatted;
  return std::nullopt;
}

TextStyle textStyleFromEnvironment() {
  const char* value = std::getenv(textStyleVariable);
  if (!value || !*value) return TextStyle::formatted;
  if (std::optional<TextStyle> style = parseTextStyle(value)) return *style;
  std::string shown(std::string_view(value).substr(0, loggedValueBytes));
  log("speech.textIgnored", {{"variable", textStyleVariable}, {"value", shown}, {"text", "formatted"}});
  return TextStyle::formatted;
}

std::vector<text::SpokenWord> spokenWords(const std::vector<TimedWord>& words) {
  std::vector<text::SpokenWord> spoken;
  spoken.reserve(words.size());
  for (const TimedWord& word : words) {
    spoken.push_back({word.text, static_cast<double>(word.startFrame) / Decoder::framesPerSecond,
                      static_cast<double>(word.endFrame) / Decoder::framesPerSecond});
  }
  return spoken;
}

std::string ResultTextWriter::operator()(const std::vector<TimedWord>& words) const {
  switch (style_) {
    case TextStyle::raw:
      return resultText(words);
    case TextStyle::timedWords:
      return timedWordsText(words);
    case TextStyle::formatted:
      break;
  }
  std::vector<text::WrittenToken> tokens = text::writeText(spokenWords(words), written_);
  return tokens.empty() ? std::string() : ' ' + text::joinTokens(tokens);
}

std::vector<WordTiming> ResultTextWriter::writtenWords(const std::vector<TimedWord>& words,
                                                       std::vector<WordTiming> timings) const {
  if (style_ != TextStyle::formatted || timings.size() != words.size()) return timings;
  std::vector<WordTiming> written;
  for (const text::WrittenToken& token : text::writeText(spokenWords(words), written_)) {
    WordTiming entry{token.text, timings[token.firstWord].start, timings[token.lastWord].end,
                     timings[token.firstWord].confidence};
    for (std::size_t i = token.firstWord; i <= token.lastWord; ++i) {
      entry.confidence = std::min(entry.confidence, timings[i].confidence);
    }
    written.push_back(std::move(entry));
  }
  return written;
}

ResultTextWriter resultTextWriter(const ResultTextSettings& settings) {
  return {settings.style ? *settings.style : textStyleFromEnvironment(), settings.written};
}

}  // namespace tolva::sphinx

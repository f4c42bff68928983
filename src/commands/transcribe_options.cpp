#include "commands/transcribe_options.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>

namespace tolva {
namespace {

std::optional<std::string> valueAfter(const std::vector<std::string>& arguments, const std::string& flag,
                                      bool& present) {
  auto found = std::find(arguments.begin(), arguments.end(), flag);
  present = found != arguments.end();
  if (!present || std::next(found) == arguments.end()) return std::nullopt;
  return *std::next(found);
}

std::optional<TranscriptFormat> formatNamed(const std::string& name) {
  static const std::map<std::string, TranscriptFormat> formats{{"json", TranscriptFormat::json},
                                                               {"srt", TranscriptFormat::srt},
                                                               {"vtt", TranscriptFormat::vtt},
                                                               {"txt", TranscriptFormat::txt}};
  auto found = formats.find(name);
  if (found == formats.end()) return std::nullopt;
  return found->second;
}

// A plain decimal number of seconds, all of the text.
std::optional<double> secondsIn(const std::string& text) {
  double value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace

std::variant<TranscribeOptions, std::string> parseTranscribeOptions(const std::vector<std::string>& arguments) {
  TranscribeOptions options;
  options.words = std::find(arguments.begin(), arguments.end(), "--words") != arguments.end();
  bool present = false;
  std::optional<std::string> format = valueAfter(arguments, "--format", present);
  if (present) {
    auto named = format ? formatNamed(*format) : std::nullopt;
    if (!named) return std::string("--format takes json, srt, vtt or txt");
    options.format = *named;
  }
  std::optional<std::string> maxSegment = valueAfter(arguments, "--max-segment", present);
  if (present) {
    auto seconds = maxSegment ? secondsIn(*maxSegment) : std::nullopt;
    if (!seconds || *seconds <= 0) return std::string("--max-segment takes a number of seconds above 0");
    options.maxSegmentSeconds = seconds;
  }
  return options;
}

}  // namespace tolva

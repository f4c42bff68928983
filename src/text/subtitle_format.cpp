#include "text/subtitle_format.hpp"

#include <algorithm>

namespace tolva::text {
namespace {

std::string padded(std::int64_t value, int digits) {
  std::string text = std::to_string(value);
  if (static_cast<int>(text.size()) < digits) text.insert(0, static_cast<std::size_t>(digits) - text.size(), '0');
  return text;
}

std::string timing(const Cue& cue, char separator) {
  return subtitleTimestamp(cue.startMs, separator) + " --> " + subtitleTimestamp(cue.endMs, separator) + "\n";
}

std::string vttEscaped(const std::string& line) {
  std::string out;
  for (char c : line) {
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string subtitleTimestamp(std::int64_t milliseconds, char separator) {
  milliseconds = std::max<std::int64_t>(milliseconds, 0);
  std::int64_t seconds = milliseconds / 1000;
  return padded(seconds / 3600, 2) + ":" + padded(seconds / 60 % 60, 2) + ":" + padded(seconds % 60, 2) + separator +
         padded(milliseconds % 1000, 3);
}

std::string srtText(const std::vector<Cue>& cues) {
  std::string out;
  for (std::size_t i = 0; i < cues.size(); ++i) {
    out += std::to_string(i + 1) + "\n" + timing(cues[i], ',');
    for (const std::string& line : cues[i].lines) out += line + "\n";
    out += "\n";
  }
  return out;
}

std::string vttText(const std::vector<Cue>& cues) {
  std::string out = "WEBVTT\n\n";
  for (const Cue& cue : cues) {
    out += timing(cue, '.');
    for (const std::string& line : cue.lines) out += vttEscaped(line) + "\n";
    out += "\n";
  }
  return out;
}

}  // namespace tolva::text

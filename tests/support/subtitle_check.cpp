#include "support/subtitle_check.hpp"

#include <regex>
#include <sstream>

#include "locale/graphemes.hpp"

namespace tolva::test {
namespace {

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::int64_t millisecondsOf(const std::smatch& match, std::size_t first) {
  auto part = [&](std::size_t i) { return std::stoll(match[first + i].str()); };
  return ((part(0) * 60 + part(1)) * 60 + part(2)) * 1000 + part(3);
}

class Reader {
 public:
  Reader(const std::string& text, char separator, bool numbered, const SubtitleRules& rules)
      : lines_(splitLines(text)), numbered_(numbered), rules_(rules) {
    std::string s = separator == ',' ? "," : "\\.";
    timing_ = std::regex("(\\d{2,}):([0-5]\\d):([0-5]\\d)" + s + "(\\d{3}) --> (\\d{2,}):([0-5]\\d):([0-5]\\d)" + s +
                         "(\\d{3})");
    if (!text.empty() && text.back() != '\n') problem("the text does not end with a line feed");
  }

  SubtitleCheck read(std::size_t at) {
    while (at < lines_.size()) at = readCue(at);
    return std::move(check_);
  }

  void problem(const std::string& what, std::size_t line = 0) {
    check_.problems.push_back(line ? "line " + std::to_string(line + 1) + ": " + what : what);
  }

 private:
  std::size_t readCue(std::size_t at) {
    std::size_t number = check_.cues.size() + 1;
    if (numbered_) {
      if (lines_[at] != std::to_string(number)) problem("expected cue number " + std::to_string(number), at);
      if (++at >= lines_.size()) return at;
    }
    std::smatch match;
    ParsedCue cue;
    if (!std::regex_match(lines_[at], match, timing_)) {
      problem("not a timing line: '" + lines_[at] + "'", at);
    } else {
      cue.startMs = millisecondsOf(match, 1);
      cue.endMs = millisecondsOf(match, 5);
    }
    std::size_t timingLine = at++;
    while (at < lines_.size() && !lines_[at].empty()) cue.lines.push_back(lines_[at++]);
    if (at >= lines_.size()) problem("the cue is not followed by an empty line", timingLine);
    judge(cue, timingLine);
    check_.cues.push_back(std::move(cue));
    return at + 1;
  }

  void judge(const ParsedCue& cue, std::size_t line) {
    if (cue.endMs <= cue.startMs) problem("the cue ends before it starts", line);
    if (cue.endMs - cue.startMs > rules_.maxMs) problem("the cue stays up too long", line);
    if (!check_.cues.empty() && cue.startMs < check_.cues.back().endMs) problem("the cue overlaps the last", line);
    if (cue.lines.empty()) problem("the cue has no text", line);
    if (cue.lines.size() > rules_.maxLines) problem("the cue has too many lines", line);
    for (const std::string& text : cue.lines) {
      if (graphemeCount(text) > rules_.maxLineChars) problem("a line is too long: '" + text + "'", line);
    }
  }

  std::vector<std::string> lines_;
  bool numbered_;
  SubtitleRules rules_;
  std::regex timing_;
  SubtitleCheck check_;
};

}  // namespace

SubtitleCheck checkSrt(const std::string& text, const SubtitleRules& rules) {
  return Reader(text, ',', true, rules).read(0);
}

SubtitleCheck checkVtt(const std::string& text, const SubtitleRules& rules) {
  Reader reader(text, '.', false, rules);
  if (text.rfind("WEBVTT\n\n", 0) != 0) {
    reader.problem("the text does not begin with the WEBVTT header and an empty line");
    return reader.read(0);
  }
  return reader.read(2);
}

}  // namespace tolva::test

// tolva-eval-write: the written text of decoded words, made again under
// settings from the command line, so that the evaluation can try settings of
// the written text without decoding again. It writes each result's words as
// the engine does (ResultTextWriter), from the timed words that
// `tolva-eval-decode text=timed` gives.
//
// usage: tolva-eval-write [text.pause=SECONDS]
// Reads one line per file: results apart by " | ", each of words
// "word@startFrame-endFrame" apart by spaces. Writes one JSON line per file:
// {"text": the results' written texts joined and trimmed, "cpuSec": the CPU
// time of writing them}.

#include <time.h>

#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "locale/trim.hpp"
#include "platform/sphinx/decoder/result_text_style.hpp"

namespace {

using tolva::sphinx::TimedWord;

double processCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

TimedWord parseWord(const std::string& item) {
  std::size_t at = item.rfind('@');
  std::size_t dash = item.rfind('-');
  if (at == std::string::npos || dash == std::string::npos || dash < at) {
    throw std::invalid_argument("not word@start-end: " + item);
  }
  return {item.substr(0, at), std::stoi(item.substr(at + 1, dash - at - 1)), std::stoi(item.substr(dash + 1))};
}

std::vector<std::vector<TimedWord>> parseResults(const std::string& line) {
  std::vector<std::vector<TimedWord>> results(1);
  std::istringstream items(line);
  for (std::string item; items >> item;) {
    if (item == "|") {
      results.emplace_back();
    } else {
      results.back().push_back(parseWord(item));
    }
  }
  return results;
}

tolva::text::WrittenTextSettings parseSettings(int argc, char** argv) {
  tolva::text::WrittenTextSettings settings;
  for (int i = 1; i < argc; ++i) {
    std::string word = argv[i];
    if (!word.starts_with("text.pause=")) throw std::invalid_argument("unknown setting " + word);
    settings.sentencePauseSeconds = std::stod(word.substr(word.find('=') + 1));
  }
  return settings;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    tolva::sphinx::ResultTextWriter writer(tolva::sphinx::TextStyle::formatted, parseSettings(argc, argv));
    for (std::string line; std::getline(std::cin, line);) {
      std::vector<std::vector<TimedWord>> results = parseResults(line);
      double before = processCpuSeconds();
      std::string joined;
      for (const std::vector<TimedWord>& words : results) joined += writer(words);
      double cpu = processCpuSeconds() - before;
      std::cout
          << nlohmann::json{{"text", std::string(tolva::trimWhitespaceAndNewlines(joined))}, {"cpuSec", cpu}}.dump()
          << std::endl;
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tolva-eval-write: %s\n", error.what());
    return 2;
  }
  return 0;
}

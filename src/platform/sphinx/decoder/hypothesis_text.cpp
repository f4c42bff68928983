#include "platform/sphinx/decoder/hypothesis_text.hpp"

#include <algorithm>
#include <cctype>

namespace tolva::sphinx {
namespace {

bool enclosedIn(std::string_view word, char open, char close) {
  return word.size() >= 2 && word.front() == open && word.back() == close;
}

}  // namespace

bool isFillerWord(std::string_view word) {
  return word.empty() || enclosedIn(word, '<', '>') || enclosedIn(word, '[', ']') || enclosedIn(word, '+', '+');
}

std::string_view baseWord(std::string_view word) {
  if (word.size() < 3 || word.back() != ')') return word;
  auto open = word.rfind('(');
  if (open == std::string_view::npos || open == 0) return word;
  std::string_view digits = word.substr(open + 1, word.size() - open - 2);
  bool allDigits = !digits.empty() &&
                   std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
  return allDigits ? word.substr(0, open) : word;
}

std::string readableText(std::string_view hypothesis) {
  std::string text;
  std::size_t pos = 0;
  while (pos < hypothesis.size()) {
    std::size_t end = hypothesis.find(' ', pos);
    if (end == std::string_view::npos) end = hypothesis.size();
    std::string_view word = hypothesis.substr(pos, end - pos);
    if (!isFillerWord(word)) {
      if (!text.empty()) text += ' ';
      text += baseWord(word);
    }
    pos = end + 1;
  }
  return text;
}

std::string resultText(const std::vector<TimedWord>& words) {
  std::string text;
  for (const TimedWord& word : words) {
    text += ' ';
    text += word.text;
  }
  return text;
}

}  // namespace tolva::sphinx

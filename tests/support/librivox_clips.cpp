#include "support/librivox_clips.hpp"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <stdexcept>

namespace tolva::test {
namespace {

const std::filesystem::path librivoxDir = "/usr/share/pocketsphinx/test/data/librivox";
const std::string clipPrefix = "sense_and_sensibility_01_austen_64kb-";

std::uint32_t littleEndian32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

}  // namespace

const std::vector<std::string>& librivoxClipNumbers() {
  static const std::vector<std::string> numbers{"0870", "0880", "0890", "0920", "0930"};
  return numbers;
}

std::filesystem::path librivoxClip(const std::string& number) { return librivoxDir / (clipPrefix + number + ".wav"); }

std::vector<std::string> librivoxReference(const std::string& number) {
  std::ifstream file(librivoxDir / "transcription");
  std::string wanted = "(" + clipPrefix + number + ")";
  for (std::string line; std::getline(file, line);) {
    auto open = line.rfind('(');
    if (open == std::string::npos || line.substr(open).find(wanted) != 0) continue;
    auto words = wordsOf(line.substr(0, open));
    std::erase_if(words, [](const std::string& w) { return w == "s"; });  // what is left of <s> and </s>
    return words;
  }
  throw std::runtime_error("no reference transcript for clip " + number);
}

std::vector<std::int16_t> librivoxSamples(const std::string& number) {
  std::ifstream file(librivoxClip(number), std::ios::binary);
  std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0) {
    throw std::runtime_error("not a WAV file: " + librivoxClip(number).string());
  }
  for (std::size_t at = 12; at + 8 <= bytes.size();) {
    std::uint32_t size = littleEndian32(bytes, at + 4);
    if (bytes.compare(at, 4, "data") == 0) {
      std::size_t count = std::min<std::size_t>(size, bytes.size() - at - 8) / sizeof(std::int16_t);
      std::vector<std::int16_t> samples(count);
      std::memcpy(samples.data(), bytes.data() + at + 8, count * sizeof(std::int16_t));
      return samples;
    }
    at += 8 + size + (size & 1);
  }
  throw std::runtime_error("no data chunk in " + librivoxClip(number).string());
}

std::vector<std::string> wordsOf(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text + " ") {
    auto u = static_cast<unsigned char>(c);
    if (std::isalnum(u) || c == '\'') {
      word += static_cast<char>(std::tolower(u));
    } else if (!word.empty()) {
      words.push_back(word);
      word.clear();
    }
  }
  return words;
}

std::size_t wordErrors(const std::vector<std::string>& reference, const std::vector<std::string>& hypothesis) {
  std::vector<std::size_t> row(hypothesis.size() + 1);
  for (std::size_t j = 0; j < row.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= reference.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= hypothesis.size(); ++j) {
      std::size_t substitution = diagonal + (reference[i - 1] == hypothesis[j - 1] ? 0 : 1);
      diagonal = row[j];
      row[j] = std::min({substitution, row[j] + 1, row[j - 1] + 1});
    }
  }
  return row.back();
}

std::size_t sharedWords(const std::vector<std::string>& reference, const std::vector<std::string>& hypothesis) {
  std::set<std::string> known(reference.begin(), reference.end());
  std::set<std::string> heard(hypothesis.begin(), hypothesis.end());
  std::size_t shared = 0;
  for (const auto& word : heard) shared += known.count(word);
  return shared;
}

}  // namespace tolva::test

#include "platform/sphinx/analysis/decoding_threads.hpp"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <string>

#include "output/log.hpp"

namespace tolva::sphinx {
namespace {

// Enough of a rejected value to recognise it in the log.
constexpr std::size_t loggedValueBytes = 40;

}  // namespace

std::optional<int> parseDecodingThreads(std::string_view value) {
  int count = 0;
  const char* end = value.data() + value.size();
  auto [stop, error] = std::from_chars(value.data(), end, count);
  if (value.empty() || value.front() == '-' || error != std::errc() || stop != end) return std::nullopt;
  if (count < 1 || count > maxDecodingThreads) return std::nullopt;
  return count;
}

int onlineProcessors() {
  long online = sysconf(_SC_NPROCESSORS_ONLN);
  return static_cast<int>(std::clamp<long>(online, 1, maxDecodingThreads));
}

int decodingThreads() {
  const char* value = std::getenv(decodingThreadsVariable);
  if (!value || !*value) return onlineProcessors();
  if (std::optional<int> count = parseDecodingThreads(value)) return *count;
  int fallback = onlineProcessors();
  std::string shown(std::string_view(value).substr(0, loggedValueBytes));
  log("speech.threadsIgnored",
      {{"variable", decodingThreadsVariable}, {"value", shown}, {"threads", static_cast<std::int64_t>(fallback)}});
  return fallback;
}

}  // namespace tolva::sphinx

#include "platform/sphinx/analysis/decoding_threads.hpp"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "output/log.hpp"

namespace tolva::sphinx {
namespace {

// Enough of a rejected value to recognise it in the log.
constexpr std::size_t loggedValueBytes = 40;

// How many decoders a quarter of the available memory holds, at least one.
int memoryBound(std::int64_t available) {
  std::int64_t room = available / 4 - decoderBytes;
  std::int64_t fit = room < 0 ? 1 : 1 + room / forkedDecoderBytes;
  return static_cast<int>(std::clamp<std::int64_t>(fit, 1, maxDecodingThreads));
}

std::optional<int> requestedThreads() {
  const char* value = std::getenv(decodingThreadsVariable);
  if (!value || !*value) return std::nullopt;
  if (std::optional<int> count = parseDecodingThreads(value)) return count;
  std::string shown(std::string_view(value).substr(0, loggedValueBytes));
  log("speech.threadsIgnored", {{"variable", decodingThreadsVariable}, {"value", shown}});
  return std::nullopt;
}

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

std::optional<std::int64_t> availableMemory() {
  std::ifstream meminfo("/proc/meminfo");
  for (std::string line; std::getline(meminfo, line);) {
    if (!line.starts_with("MemAvailable:")) continue;
    std::istringstream fields(line.substr(13));
    std::int64_t kilobytes = -1;
    if (fields >> kilobytes && kilobytes >= 0) return kilobytes * 1024;
    return std::nullopt;
  }
  return std::nullopt;
}

ThreadChoice chooseDecodingThreads(std::optional<int> requested, int processors,
                                   std::optional<std::int64_t> available) {
  int byMemory = available ? memoryBound(*available) : maxDecodingThreads;
  if (requested) {
    if (byMemory < *requested) return {byMemory, "memory"};
    return {*requested, "variable"};
  }
  ThreadChoice choice = processors <= defaultMaximumThreads ? ThreadChoice{processors, "processors"}
                                                            : ThreadChoice{defaultMaximumThreads, "maximum"};
  if (byMemory < choice.count) choice = {byMemory, "memory"};
  return choice;
}

int decodingThreads() {
  std::optional<int> requested = requestedThreads();
  std::optional<std::int64_t> available = availableMemory();
  ThreadChoice choice = chooseDecodingThreads(requested, onlineProcessors(), available);
  LogFields fields{{"count", static_cast<std::int64_t>(choice.count)}, {"limitedBy", choice.limitedBy}};
  if (requested) fields["requested"] = JsonValue(static_cast<std::int64_t>(*requested));
  if (available) fields["availableMb"] = JsonValue(static_cast<std::int64_t>(*available >> 20));
  log("speech.threads", fields);
  return choice.count;
}

}  // namespace tolva::sphinx

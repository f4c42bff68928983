#include "platform/store/install/download_pace.hpp"

#include <algorithm>

namespace tolva::store {
namespace {

constexpr std::chrono::seconds sampleSpacing{1};

}  // namespace

std::chrono::seconds DownloadLimits::deadline(std::int64_t size) const {
  std::int64_t floor = std::max<std::int64_t>(floorBytesPerSecond, 1);
  std::int64_t seconds = size / floor + (size % floor != 0 ? 1 : 0);
  return std::chrono::seconds(seconds) + deadlineSlack;
}

DownloadPace::DownloadPace(const DownloadLimits& limits, std::int64_t size, Clock::time_point start)
    : limits_(limits), deadline_(limits.deadline(size)), start_(start) {
  samples_.emplace_back(start, 0);
}

std::optional<std::string> DownloadPace::check(std::int64_t received, Clock::time_point now) {
  if (now - start_ > deadline_) {
    return "it did not finish within its deadline (" + limitsText() + "), having received " + std::to_string(received) +
           " bytes";
  }
  if (now - samples_.back().first >= sampleSpacing) samples_.emplace_back(now, received);
  Clock::time_point windowStart = now - limits_.floorWindow;
  while (samples_.size() >= 2 && samples_[1].first <= windowStart) samples_.pop_front();
  const auto& [then, bytesThen] = samples_.front();
  if (then > windowStart) return std::nullopt;  // not a whole window yet
  double seconds = std::chrono::duration<double>(now - then).count();
  if (static_cast<double>(received - bytesThen) >= static_cast<double>(limits_.floorBytesPerSecond) * seconds) {
    return std::nullopt;
  }
  return "it received " + std::to_string(received - bytesThen) + " bytes in the last " +
         std::to_string(limits_.floorWindow.count()) + " s, below its floor (" + limitsText() + ")";
}

std::string DownloadPace::limitsText() const {
  return "floor " + std::to_string(limits_.floorBytesPerSecond) + " bytes/s averaged over " +
         std::to_string(limits_.floorWindow.count()) + " s; deadline " + std::to_string(deadline_.count()) +
         " s for the catalog's size at that floor";
}

}  // namespace tolva::store

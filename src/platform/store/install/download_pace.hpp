#pragma once
// DownloadPace: whether a download keeps within its DownloadLimits, judged
// from the byte count at each check (libcurl's progress callback, which runs
// about once a second even while nothing arrives).

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>

#include "platform/store/install/archive_download.hpp"

namespace tolva::store {

class DownloadPace {
 public:
  using Clock = std::chrono::steady_clock;

  DownloadPace(const DownloadLimits& limits, std::int64_t size, Clock::time_point start = Clock::now());

  // Nothing while the download keeps its limits; otherwise what it broke,
  // naming the floor and the deadline.
  std::optional<std::string> check(std::int64_t received, Clock::time_point now = Clock::now());

 private:
  std::string limitsText() const;

  DownloadLimits limits_;
  std::chrono::seconds deadline_;
  Clock::time_point start_;
  // Byte counts about a second apart, the oldest at least one window back
  // once a window has passed.
  std::deque<std::pair<Clock::time_point, std::int64_t>> samples_;
};

}  // namespace tolva::store

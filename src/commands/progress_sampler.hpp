#pragma once
// The progress sampler of an install: while the download runs, it reads the
// request's fraction at once and then every 500 ms, appends it formatted with
// three decimals to the SampleBuffer and logs "install.progress". It stops on
// its own when the unformatted fraction reaches 1.0, or when cancelled (seen
// at the top of a cycle; a cancel also cuts the sleep short).

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "concurrency/task.hpp"
#include "platform/speech.hpp"

namespace tolva {

// The samples of one install run, shared by the command and the sampler.
class SampleBuffer {
 public:
  void append(std::string sample);
  // All samples in the order appended; they stay in the buffer.
  std::vector<std::string> drain() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> samples_;
};

inline constexpr std::chrono::milliseconds progressSampleInterval{500};

// Runs sampler cycles on the calling thread until it stops.
void runProgressSampler(const InstallProgress& progress, SampleBuffer& samples, std::stop_token stop);

// Starts the sampler on its own task. The task holds the request and the
// buffer, so it may be cancelled and left to end alone.
Task startProgressSampler(std::shared_ptr<AssetInstallationRequest> request, std::shared_ptr<SampleBuffer> samples);

}  // namespace tolva

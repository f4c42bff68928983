#include "commands/progress_sampler.hpp"

#include <cstdio>

#include "concurrency/sleep.hpp"
#include "output/log.hpp"

namespace tolva {

void SampleBuffer::append(std::string sample) {
  std::lock_guard lock(mutex_);
  samples_.push_back(std::move(sample));
}

std::vector<std::string> SampleBuffer::drain() const {
  std::lock_guard lock(mutex_);
  return samples_;
}

void runProgressSampler(const InstallProgress& progress, SampleBuffer& samples, std::stop_token stop) {
  while (!stop.stop_requested()) {
    double fraction = progress.fractionCompleted();
    char formatted[64];
    std::snprintf(formatted, sizeof formatted, "%.3f", fraction);
    samples.append(formatted);
    log("install.progress", {{"fraction", fraction},
                             {"complete", progress.completedUnitCount()},
                             {"total", progress.totalUnitCount()}});
    // The unformatted value decides: 0.9996 prints as 1.000 but goes on.
    if (fraction >= 1.0) return;
    sleepFor(progressSampleInterval, stop);
  }
}

Task startProgressSampler(std::shared_ptr<AssetInstallationRequest> request, std::shared_ptr<SampleBuffer> samples) {
  return Task([request, samples](std::stop_token stop) { runProgressSampler(request->progress(), *samples, stop); });
}

}  // namespace tolva

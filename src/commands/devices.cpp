// devices: the sound server's capture sources, for a parent that lets its
// user pick a microphone. Each is named as a listen `start` takes it in
// `device`; the default is the one a session without `device` records from.
#include <cmath>

#include "commands/commands.hpp"
#include "output/emit.hpp"
#include "output/log.hpp"
#include "platform/platform_error.hpp"

namespace tolva {
namespace {

std::int64_t wholeRate(double rate) { return std::isfinite(rate) ? static_cast<std::int64_t>(rate) : 0; }

CaptureSourceOut sourceOut(const CaptureSource& source) {
  return CaptureSourceOut{source.name,
                          source.description,
                          wholeRate(source.format.sampleRate),
                          static_cast<std::int64_t>(source.format.channelCount),
                          source.isDefault,
                          source.monitor};
}

}  // namespace

void cmdDevices(const PlatformProvider& platform) {
  log("devices.start");
  std::vector<CaptureSource> sources;
  try {
    sources = platform().audio.captureSources();
  } catch (...) {
    fail("devices-failed", "the sound server's capture sources could not be listed",
         describe(std::current_exception()));
  }
  DevicesOut out;
  std::string defaultName;
  for (const CaptureSource& source : sources) {
    out.sources.push_back(sourceOut(source));
    if (source.isDefault) defaultName = source.name;
  }
  log("devices.done", {{"count", static_cast<std::int64_t>(out.sources.size())}, {"default", defaultName}});
  emit(out);
}

}  // namespace tolva

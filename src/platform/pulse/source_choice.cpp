#include "platform/pulse/source_choice.hpp"

#include <algorithm>
#include <cstdlib>

#include "platform/platform_error.hpp"

namespace tolva::pulse {

SourceChoice chooseSource(const std::string& device) {
  if (!device.empty()) return {device, false};
  const char* environment = std::getenv("PULSE_SOURCE");
  if (environment && *environment) return {environment, true};
  return {};
}

SourceInfo resolveSource(MainLoop& loop, pa_context* context, const SourceChoice& choice) {
  if (choice.followsDefault()) return defaultSource(loop, context);
  if (auto source = sourceNamed(loop, context, choice.name)) return *source;
  throw PlatformError("the sound server has no capture source named '" + choice.name + "'" +
                      (choice.fromEnvironment ? " (from PULSE_SOURCE)" : "") +
                      "; `tolva-speech devices` lists the sources");
}

namespace {

CaptureSource captureSourceOf(const SourceInfo& info, const std::string& defaultName) {
  return CaptureSource{info.name, info.description, info.format, info.monitor, info.name == defaultName};
}

}  // namespace

std::vector<CaptureSource> listCaptureSources() {
  MainLoop loop;
  MainLoop::Lock lock(loop);
  pa_context* context = connectContext(
      loop, [](pa_context*, void* userdata) { static_cast<MainLoop*>(userdata)->signal(); }, &loop);
  std::vector<CaptureSource> sources;
  try {
    SourceChoice choice = chooseSource("");
    std::string defaultName = choice.followsDefault() ? defaultSourceName(loop, context) : choice.name;
    for (const SourceInfo& info : allSources(loop, context)) sources.push_back(captureSourceOf(info, defaultName));
  } catch (...) {
    releaseContext(context);
    throw;
  }
  releaseContext(context);
  std::sort(sources.begin(), sources.end(),
            [](const CaptureSource& a, const CaptureSource& b) { return a.name < b.name; });
  return sources;
}

}  // namespace tolva::pulse

#include "platform/pulse/pulse_module.hpp"

#include "platform/pulse/pulse_capture.hpp"
#include "platform/pulse/source_choice.hpp"

extern "C" __attribute__((visibility("default"))) const tolva::pulse::ModuleApi* tolvaPulseModule() {
  static const tolva::pulse::ModuleApi api{&tolva::pulse::makeCaptureEngine, &tolva::pulse::listCaptureSources};
  return &api;
}

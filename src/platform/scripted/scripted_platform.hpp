#pragma once
// The scripted platform: both seams answered from one Scenario.

#include "platform/platform.hpp"
#include "platform/scripted/scenario.hpp"
#include "platform/scripted/scripted_audio.hpp"
#include "platform/scripted/scripted_speech.hpp"

namespace tolva::scripted {

class ScriptedPlatform {
 public:
  explicit ScriptedPlatform(Scenario scenario)
      : scenario_(std::move(scenario)), speech_(scenario_), audio_(scenario_), platform_{speech_, audio_} {}
  ScriptedPlatform(const ScriptedPlatform&) = delete;
  ScriptedPlatform& operator=(const ScriptedPlatform&) = delete;

  Platform& platform() { return platform_; }
  const Scenario& scenario() const { return scenario_; }

 private:
  Scenario scenario_;
  ScriptedSpeechEngine speech_;
  ScriptedAudioSystem audio_;
  Platform platform_;
};

// The scenario named by the TOLVA_SCENARIO environment variable: JSON text,
// or the path of a file holding it. Throws when it is missing or malformed.
Scenario scenarioFromEnvironment();

}  // namespace tolva::scripted

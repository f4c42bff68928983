#pragma once
// A private PulseAudio daemon for tests, in a fresh temporary directory, with
// pipe sources as microphones. Construction points this process's
// environment at it (HOME, XDG_RUNTIME_DIR, XDG_CONFIG_HOME,
// PULSE_RUNTIME_PATH, PULSE_STATE_PATH, PULSE_SERVER), so libpulse in-process
// connects there; env() gives the same variables for child processes.
// Destruction stops the daemon by its pid, restores the environment and
// removes the directory.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/temp_dir.hpp"

namespace tolva::test {

class PulseDaemon {
 public:
  // Starts the daemon and waits until it answers; throws std::runtime_error.
  PulseDaemon();
  ~PulseDaemon();
  PulseDaemon(const PulseDaemon&) = delete;
  PulseDaemon& operator=(const PulseDaemon&) = delete;

  const std::filesystem::path& dir() const { return dir_.path(); }
  const std::map<std::string, std::string>& env() const { return env_; }

  // Runs pactl against the daemon and returns its output; throws on failure.
  std::string pactl(const std::vector<std::string>& args) const;

  // Loads a pipe source `name` (s16le) reading the FIFO fifo(name) and makes
  // it the default source; returns the module index for removeModule.
  int addMicrophone(const std::string& name, int rate = 16000, int channels = 1) const;
  // Unloads a module: for a microphone, the device is gone.
  void removeModule(int index) const;
  std::filesystem::path fifo(const std::string& name) const { return dir() / (name + ".fifo"); }

  // Writes interleaved s16 samples into a microphone's FIFO, `chunk` samples
  // per write. The source passes them on as fast as it reads them; with
  // nothing written, delivery stalls.
  void speak(const std::string& name, const std::vector<std::int16_t>& samples, std::size_t chunk = 1000) const;

 private:
  void start();
  void waitUntilAnswering() const;
  void shutdown();

  TempDir dir_;
  std::map<std::string, std::string> env_;
  std::map<std::string, std::string> savedEnv_;  // variables set before, restored on exit
  std::vector<std::string> unsetOnExit_;
  pid_t pid_ = -1;
};

}  // namespace tolva::test

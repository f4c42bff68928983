#include "support/pulse_daemon.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "support/child_environment.hpp"
#include "support/run_tool.hpp"

namespace tolva::test {
namespace {

pid_t spawnQuietly(std::vector<std::string> argv) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  auto args = execPointers(argv);
  pid_t pid = -1;
  int failed = posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(failed));
  return pid;
}

}  // namespace

PulseDaemon::PulseDaemon() {
  std::string d = dir().string();
  env_ = {{"HOME", d},
          {"XDG_RUNTIME_DIR", d},
          {"XDG_CONFIG_HOME", d},
          {"PULSE_RUNTIME_PATH", d},
          {"PULSE_STATE_PATH", d},
          {"PULSE_SERVER", "unix:" + d + "/native"}};
  for (const auto& [name, value] : env_) {
    if (const char* old = std::getenv(name.c_str())) {
      savedEnv_[name] = old;
    } else {
      unsetOnExit_.push_back(name);
    }
    setenv(name.c_str(), value.c_str(), 1);
  }
  try {
    start();
  } catch (...) {
    shutdown();
    throw;
  }
}

void PulseDaemon::start() {
  std::string d = dir().string();
  pid_ =
      spawnQuietly({"/usr/bin/pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
                    "--log-target=file:" + d + "/pa.log", "-L",
                    "module-native-protocol-unix auth-anonymous=1 socket=" + d + "/native", "-L", "module-null-sink"});
  waitUntilAnswering();
}

PulseDaemon::~PulseDaemon() { shutdown(); }

void PulseDaemon::shutdown() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }
  for (const auto& [name, value] : savedEnv_) setenv(name.c_str(), value.c_str(), 1);
  for (const auto& name : unsetOnExit_) unsetenv(name.c_str());
}

// The daemon has no readiness signal; its socket answering is the signal.
void PulseDaemon::waitUntilAnswering() const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    if (runTool("/usr/bin/pactl", {"info"}, {env_, "", 10, {}}).status == 0) return;
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) throw std::runtime_error("pulseaudio exited at start");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  throw std::runtime_error("pulseaudio did not answer within 20 s");
}

std::string PulseDaemon::pactl(const std::vector<std::string>& args) const {
  ToolRun run = runTool("/usr/bin/pactl", args, {env_, "", 30, {}});
  if (run.status != 0) throw std::runtime_error("pactl failed: " + run.err);
  return run.out;
}

int PulseDaemon::addMicrophone(const std::string& name, int rate, int channels) const {
  std::string index = pactl({"load-module", "module-pipe-source", "source_name=" + name, "file=" + fifo(name).string(),
                             "format=s16le", "rate=" + std::to_string(rate), "channels=" + std::to_string(channels)});
  pactl({"set-default-source", name});
  return std::stoi(index);
}

void PulseDaemon::removeModule(int index) const { pactl({"unload-module", std::to_string(index)}); }

void PulseDaemon::speak(const std::string& name, const std::vector<std::int16_t>& samples, std::size_t chunk) const {
  // The source holds the FIFO open for reading, so this open does not block.
  int fd = open(fifo(name).c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + fifo(name).string() + ": " + std::strerror(errno));
  for (std::size_t at = 0; at < samples.size(); at += chunk) {
    std::size_t bytes = std::min(chunk, samples.size() - at) * sizeof(std::int16_t);
    const char* data = reinterpret_cast<const char*>(samples.data() + at);
    while (bytes > 0) {
      ssize_t written = write(fd, data, bytes);
      if (written < 0 && errno == EINTR) continue;
      if (written < 0) {
        close(fd);
        throw std::runtime_error("cannot write to " + fifo(name).string() + ": " + std::strerror(errno));
      }
      data += written;
      bytes -= static_cast<std::size_t>(written);
    }
  }
  close(fd);
}

}  // namespace tolva::test

#include "platform/linux/bounded_child.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/platform_error.hpp"

extern char** environ;

namespace tolva {
namespace {

using Clock = std::chrono::steady_clock;

pid_t spawnWithPipe(const std::vector<std::string>& argv, int pipeWrite, int pipeRead) {
  std::vector<std::string> words = argv;
  std::vector<char*> pointers;
  for (std::string& word : words) pointers.push_back(word.data());
  pointers.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeWrite, 1);
  posix_spawn_file_actions_adddup2(&actions, pipeWrite, 2);
  posix_spawn_file_actions_addclose(&actions, pipeRead);
  // Our handlers' dispositions are not the helper's business.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  sigset_t all;
  sigfillset(&all);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  int error = posix_spawn(&pid, words[0].c_str(), &actions, &attributes, pointers.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) throw PlatformError("cannot start " + argv[0] + ": " + std::strerror(error));
  return pid;
}

void keepTail(std::string& output, const char* data, std::size_t size, std::size_t keptBytes) {
  output.append(data, size);
  if (output.size() > keptBytes) output.erase(0, output.size() - keptBytes);
}

// Reads the pipe until its end or the deadline; false at the deadline.
bool readUntilEnd(int fd, Clock::time_point deadline, std::string& output, std::size_t keptBytes) {
  char buffer[4096];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd item{fd, POLLIN, 0};
    int ready = poll(&item, 1, static_cast<int>(std::min<long long>(left, 1000)));
    if (ready < 0 && errno != EINTR) return true;  // cannot wait on it: wait for the exit instead
    if (ready <= 0) continue;
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) return true;
    keepTail(output, buffer, static_cast<std::size_t>(got), keptBytes);
  }
}

int waitFor(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

}  // namespace

ChildOutcome runBoundedChild(const std::vector<std::string>& argv, std::chrono::milliseconds limit,
                             std::size_t keptBytes) {
  if (argv.empty()) throw PlatformError("no program to run");
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) throw PlatformError(std::string("cannot make a pipe: ") + std::strerror(errno));
  pid_t pid = -1;
  try {
    pid = spawnWithPipe(argv, ends[1], ends[0]);
  } catch (...) {
    close(ends[0]);
    close(ends[1]);
    throw;
  }
  close(ends[1]);
  ChildOutcome outcome;
  if (!readUntilEnd(ends[0], Clock::now() + limit, outcome.output, keptBytes)) {
    outcome.timedOut = true;
    kill(pid, SIGKILL);
  }
  close(ends[0]);
  int status = waitFor(pid);
  if (!outcome.timedOut && WIFEXITED(status)) outcome.exitStatus = WEXITSTATUS(status);
  if (!outcome.timedOut && WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
  return outcome;
}

}  // namespace tolva

#include "support/run_tool.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "support/child_environment.hpp"

namespace tolva::test {
namespace {

struct Pipe {
  int fds[2] = {-1, -1};
  Pipe() {
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  }
  ~Pipe() {
    closeEnd(0);
    closeEnd(1);
  }
  void closeEnd(int end) {
    if (fds[end] >= 0) close(fds[end]);
    fds[end] = -1;
  }
};

// Feeds stdin and drains stdout and stderr (unless `readErr` is false) until
// they close or time runs out. Returns false on timeout.
bool pump(Pipe& in, Pipe& out, Pipe& err, const std::string& input, ToolRun& run, int timeoutSeconds, bool readErr) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  std::size_t inputSent = 0;
  if (input.empty()) in.closeEnd(1);
  while (out.fds[0] >= 0 || (readErr && err.fds[0] >= 0)) {
    pollfd fds[3] = {{out.fds[0], POLLIN, 0}, {readErr ? err.fds[0] : -1, POLLIN, 0}, {in.fds[1], POLLOUT, 0}};
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    if (poll(fds, 3, static_cast<int>(left.count())) < 0 && errno != EINTR) return false;
    char buffer[65536];
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? run.out : run.err).append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        (i == 0 ? out : err).closeEnd(0);
      }
    }
    if (fds[2].fd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t n = write(in.fds[1], input.data() + inputSent, input.size() - inputSent);
      if (n > 0) inputSent += static_cast<std::size_t>(n);
      if (n < 0 || inputSent == input.size()) in.closeEnd(1);
    }
  }
  return true;
}

}  // namespace

ToolRun runTool(const std::string& binary, const std::vector<std::string>& args, const ToolOptions& options) {
  // A child that exits before reading all its input must not kill the test.
  signal(SIGPIPE, SIG_IGN);
  Pipe in, out, err;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  int childEnds[3] = {in.fds[0], out.fds[1], err.fds[1]};
  for (int fd = 0; fd < 3; ++fd) {
    bool closed = std::find(options.closedFds.begin(), options.closedFds.end(), fd) != options.closedFds.end();
    if (closed) {
      posix_spawn_file_actions_addclose(&actions, fd);
    } else {
      posix_spawn_file_actions_adddup2(&actions, childEnds[fd], fd);
    }
  }

  std::vector<std::string> argv{binary};
  argv.insert(argv.end(), args.begin(), args.end());
  auto env = environmentWith(options.env);
  auto argvPointers = execPointers(argv);
  auto envPointers = execPointers(env);

  pid_t pid = -1;
  int spawned = posix_spawn(&pid, binary.c_str(), &actions, nullptr, argvPointers.data(), envPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + binary + ": " + std::strerror(spawned));
  in.closeEnd(0);
  out.closeEnd(1);
  err.closeEnd(1);

  ToolRun run;
  if (!pump(in, out, err, options.stdinText, run, options.timeoutSeconds, !options.stderrUnread)) kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (options.stderrUnread) pump(in, out, err, "", run, options.timeoutSeconds, true);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

ToolRun runScripted(const std::vector<std::string>& args, const std::string& scenario, ToolOptions options) {
  options.env["TOLVA_SCENARIO"] = scenario;
  return runTool(TOLVA_SCRIPTED_BINARY, args, options);
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < text.size()) {
    auto end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

}  // namespace tolva::test

#include "support/listen_process.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "support/child_environment.hpp"
#include "support/run_tool.hpp"

namespace tolva::test {

ListenProcess::ListenProcess(const std::string& binary, const std::map<std::string, std::string>& env,
                             const std::vector<std::string>& args) {
  ::signal(SIGPIPE, SIG_IGN);  // a child that exits before reading all input must not kill the test
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  std::vector<std::string> argv{binary};
  argv.insert(argv.end(), args.begin(), args.end());
  auto environment = environmentWith(env);
  auto argvPointers = execPointers(argv);
  auto envPointers = execPointers(environment);
  int spawned = posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argvPointers.data(), envPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  in_ = in[1];
  out_ = out[0];
  errFd_ = err[0];
  if (spawned != 0) throw std::runtime_error("cannot start " + binary + ": " + strerror(spawned));
}

ListenProcess::~ListenProcess() {
  if (status_ < 0 && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (int fd : {in_, out_, errFd_}) {
    if (fd >= 0) close(fd);
  }
}

void ListenProcess::send(const std::string& line) { sendRaw(line + "\n"); }

void ListenProcess::sendRaw(const std::string& bytes) {
  std::string_view rest = bytes;
  while (!rest.empty() && in_ >= 0) {
    ssize_t n = write(in_, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
}

void ListenProcess::closeInput() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

void ListenProcess::closeOutput() {
  if (out_ >= 0) close(out_);
  out_ = -1;
}

void ListenProcess::signal(int number) { kill(pid_, number); }

void ListenProcess::takeOut(const char* bytes, std::size_t count) {
  outPending_.append(bytes, count);
  auto now = Clock::now();
  for (auto end = outPending_.find('\n'); end != std::string::npos; end = outPending_.find('\n')) {
    std::string line = outPending_.substr(0, end);
    outPending_.erase(0, end + 1);
    auto event = Json::parse(line, nullptr, false);
    EXPECT_TRUE(event.is_object()) << "stdout line is not a JSON object: " << line;
    events_.push_back(event.is_object() ? event : Json{{"event", "<not json>"}, {"line", line}});
    arrivals_.push_back(now);
  }
}

void ListenProcess::drainStderr() {
  char buffer[65536];
  pollfd fd{errFd_, POLLIN, 0};
  while (errFd_ >= 0 && poll(&fd, 1, 0) > 0) {
    ssize_t n = read(errFd_, buffer, sizeof buffer);
    if (n > 0) {
      err_.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      close(errFd_);
      errFd_ = -1;
    }
  }
}

bool ListenProcess::pump(Clock::time_point deadline) {
  if (out_ < 0 && (errUnread_ || errFd_ < 0)) return false;
  pollfd fds[2] = {{out_, POLLIN, 0}, {errUnread_ ? -1 : errFd_, POLLIN, 0}};
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (poll(fds, 2, static_cast<int>(std::max<long>(left, 0))) <= 0) return true;
  char buffer[65536];
  for (int i = 0; i < 2; ++i) {
    if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
    if (n > 0) {
      if (i == 0) {
        takeOut(buffer, static_cast<std::size_t>(n));
      } else {
        err_.append(buffer, static_cast<std::size_t>(n));
      }
    } else if (n == 0 || errno != EINTR) {
      close(fds[i].fd);
      (i == 0 ? out_ : errFd_) = -1;
    }
  }
  return true;
}

ListenProcess::Json ListenProcess::pollEvent(const std::string& name, std::chrono::milliseconds timeout,
                                             const std::function<bool(const Json&)>& accept) {
  auto deadline = Clock::now() + timeout;
  for (;;) {
    for (; cursor_ < events_.size(); ++cursor_) {
      const Json& event = events_[cursor_];
      if (event.value("event", "") == name && (!accept || accept(event))) return events_[cursor_++];
    }
    if (Clock::now() >= deadline || !pump(deadline)) return nullptr;
  }
}

ListenProcess::Json ListenProcess::awaitEvent(const std::string& name, std::chrono::milliseconds timeout,
                                              const std::function<bool(const Json&)>& accept) {
  Json event = pollEvent(name, timeout, accept);
  if (event.is_null()) {
    ADD_FAILURE() << "no '" << name << "' event within " << timeout.count() << " ms; stderr:\n" << err_;
  }
  return event;
}

int ListenProcess::waitExit(std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline && pump(deadline)) {
  }
  if (errUnread_ && out_ < 0) {
    errUnread_ = false;  // the child has closed its standard output: read what it left
    while (Clock::now() < deadline && pump(deadline)) {
    }
  }
  if (out_ >= 0 || errFd_ >= 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    return -1;
  }
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  // A sanitizer report would not change the status of a process that leaves with _exit.
  for (const char* report : {"Sanitizer", "runtime error:"}) {
    EXPECT_EQ(err_.find(report), std::string::npos) << err_;
  }
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return status_;
}

std::vector<std::string> ListenProcess::eventNames() const {
  std::vector<std::string> names;
  for (const auto& event : events_) names.push_back(event.value("event", ""));
  return names;
}

std::vector<ListenProcess::Json> ListenProcess::sessionEvents(std::int64_t session, const std::string& name) const {
  std::vector<Json> out;
  for (const auto& event : events_) {
    if (event.value("event", "") == name && event.value("session", std::int64_t{-1}) == session) {
      out.push_back(event);
    }
  }
  return out;
}

std::vector<ListenProcess::Json> ListenProcess::logLines() const {
  std::vector<Json> logs;
  for (const auto& line : lines(err_)) {
    auto entry = Json::parse(line, nullptr, false);
    if (entry.is_object()) logs.push_back(entry);
  }
  return logs;
}

void quitAndExpectCleanExit(ListenProcess& listen, std::int64_t sessions, bool byEndOfInput) {
  if (byEndOfInput) {
    listen.closeInput();
  } else {
    listen.send(R"({"cmd":"quit"})");
  }
  ASSERT_EQ(listen.waitExit(), 0) << listen.err();
  auto logs = listen.logLines();
  ASSERT_FALSE(logs.empty());
  EXPECT_EQ(logs.back().value("event", ""), "listen.exit");
  EXPECT_EQ(logs.back().value("sessions", -1), sessions);
}

}  // namespace tolva::test

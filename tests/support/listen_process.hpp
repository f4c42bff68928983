#pragma once
// `tolva-speech listen` of any build (the shipped binary in end-to-end tests)
// as a child process that a test talks to line by line, the way a parent
// application would: commands in, events waited for as they appear.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace tolva::test {

class ListenProcess {
 public:
  using Clock = std::chrono::steady_clock;
  using Json = nlohmann::json;

  // Starts `binary args...` with this process's environment plus `env`
  // (which replaces variables of the same name).
  ListenProcess(const std::string& binary, const std::map<std::string, std::string>& env,
                const std::vector<std::string>& args = {"listen"});
  ~ListenProcess();  // kills a child that has not been waited for
  ListenProcess(const ListenProcess&) = delete;
  ListenProcess& operator=(const ListenProcess&) = delete;

  void send(const std::string& line);  // the line and a line feed
  void sendRaw(const std::string& bytes);
  void closeInput();
  // Stops reading standard output and closes it, like a parent that went away.
  void closeOutput();
  void signal(int number);
  // Stops reading standard error, like a parent that never reads it, until
  // drainStderr() reads what waits there or the child has exited.
  void leaveStderrUnread() { errUnread_ = true; }
  void drainStderr();

  // Waits for the next event after the previous awaited one that is named
  // `name` (and satisfies `accept`, when given) and returns it; fails the
  // test and returns null when `timeout` passes first.
  Json awaitEvent(const std::string& name, std::chrono::milliseconds timeout = std::chrono::seconds(30),
                  const std::function<bool(const Json&)>& accept = {});
  // The same without failing the test: null when `timeout` passes first.
  Json pollEvent(const std::string& name, std::chrono::milliseconds timeout,
                 const std::function<bool(const Json&)>& accept = {});
  // Waits for the exit; returns the status (128 + signal when killed), or -1
  // after `timeout` (the child is then killed). A sanitizer report on the
  // child's standard error fails the test.
  int waitExit(std::chrono::milliseconds timeout = std::chrono::seconds(30));

  const std::vector<Json>& events() const { return events_; }
  std::vector<std::string> eventNames() const;
  // When the event last returned by awaitEvent or pollEvent was read.
  Clock::time_point lastArrival() const { return cursor_ > 0 ? arrivals_[cursor_ - 1] : Clock::time_point{}; }
  // Events of one session named `name`.
  std::vector<Json> sessionEvents(std::int64_t session, const std::string& name) const;
  // The diagnostic log lines parsed so far.
  std::vector<Json> logLines() const;
  const std::string& err() const { return err_; }
  pid_t pid() const { return pid_; }

 private:
  bool pump(Clock::time_point deadline);  // false when both pipes closed
  void takeOut(const char* bytes, std::size_t count);

  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, errFd_ = -1;
  std::string outPending_;
  std::string err_;
  std::vector<Json> events_;
  std::vector<Clock::time_point> arrivals_;
  std::size_t cursor_ = 0;
  int status_ = -1;
  bool errUnread_ = false;
};

// Ends the service by `quit`, or by the end of its input like a parent that
// closed the pipe, and expects exit 0 with `listen.exit` (counting `sessions`)
// as the last log line.
void quitAndExpectCleanExit(ListenProcess& listen, std::int64_t sessions, bool byEndOfInput = false);

}  // namespace tolva::test

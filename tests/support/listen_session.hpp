#pragma once
// Test helpers for the listen service.
//   CapturedEvents: an in-process LiveEventEmitter writing into an anonymous
//                   file, read back as parsed events.
//   ListenSession:  `tolva-speech-scripted listen` as a child process that a
//                   test talks to line by line, waiting for events as they
//                   appear, the way a parent application would.

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "live/live_event_emitter.hpp"

namespace tolva::test {

using Json = nlohmann::json;

class CapturedEvents {
 public:
  CapturedEvents();
  CapturedEvents(const CapturedEvents&) = delete;
  CapturedEvents& operator=(const CapturedEvents&) = delete;

  const std::shared_ptr<LiveEventEmitter>& emitter() const { return emitter_; }
  // Everything written so far, as written.
  std::string text() const;
  // Each line parsed; a line that is not JSON fails the calling test.
  std::vector<Json> events() const;
  // The event names in order.
  std::vector<std::string> names() const;

 private:
  int fd_ = -1;  // never closed: an abandoned thread may still write after the test
  std::shared_ptr<LiveEventEmitter> emitter_;
};

class ListenSession {
 public:
  explicit ListenSession(const std::string& scenario, std::vector<std::string> args = {"listen"});
  ~ListenSession();
  ListenSession(const ListenSession&) = delete;
  ListenSession& operator=(const ListenSession&) = delete;

  void send(const std::string& line);  // the line and a line feed
  void sendRaw(const std::string& bytes);
  void closeInput();
  // Stops reading standard output and closes it, like a parent that went away.
  void closeOutput();
  void signal(int number);

  // Waits for the next event named `name` after the previous awaited one and
  // returns it; fails the test and returns null when `timeout` passes first.
  Json awaitEvent(const std::string& name, std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // Waits for the exit; returns the status (128 + signal when killed), or -1
  // after `timeout` (the child is then killed). A sanitizer report on the
  // child's standard error fails the test.
  int waitExit(std::chrono::milliseconds timeout = std::chrono::seconds(30));

  const std::vector<Json>& events() const { return events_; }
  std::vector<std::string> eventNames() const;
  // The diagnostic log lines parsed so far.
  std::vector<Json> logLines() const;
  const std::string& err() const { return err_; }
  pid_t pid() const { return pid_; }

 private:
  // Reads what is available until `deadline`; false when both pipes closed.
  bool pump(std::chrono::steady_clock::time_point deadline);
  void takeOut(const char* bytes, std::size_t count);

  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, errFd_ = -1;
  std::string outPending_;
  std::string err_;
  std::vector<Json> events_;
  std::size_t cursor_ = 0;
  int status_ = -1;
};

}  // namespace tolva::test

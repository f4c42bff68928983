#pragma once
// Test helpers for the listen service.
//   CapturedEvents: an in-process LiveEventEmitter writing into an anonymous
//                   file, read back as parsed events.
//   ListenSession:  `tolva-speech-scripted listen` as a child process that a
//                   test talks to line by line, waiting for events as they
//                   appear, the way a parent application would.

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "live/protocol/live_event_emitter.hpp"
#include "support/listen_process.hpp"

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

class ListenSession : public ListenProcess {
 public:
  explicit ListenSession(const std::string& scenario, const std::vector<std::string>& args = {"listen"})
      : ListenProcess(TOLVA_SCRIPTED_BINARY, {{"TOLVA_SCENARIO", scenario}}, args) {}
};

}  // namespace tolva::test

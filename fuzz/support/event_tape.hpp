#pragma once
// EventTape: a LiveEventEmitter writing into an anonymous file, and the
// checks every stretch of its output must pass: each line a UTF-8 JSON object
// of at most maxEventLineBytes with a string `event`, `seq` one more than the
// line before, a whole `tMs` of at least 0; error events with a string `code`
// and `message` (never "encode-failed"); session-started and session-ended in
// pairs with matching session numbers.

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

#include "live/protocol/live_event_emitter.hpp"

namespace tolva::fuzz {

class EventTape {
 public:
  EventTape();
  EventTape(const EventTape&) = delete;
  EventTape& operator=(const EventTape&) = delete;

  LiveEventEmitter& emitter() { return *emitter_; }

  // The events written since the last call, checked.
  std::vector<nlohmann::json> take();
  std::size_t errorCount() const { return errors_; }
  // Fails when a session-started has no session-ended yet.
  void requireSessionsClosed() const;

 private:
  void check(nlohmann::json& event, std::size_t lineBytes);

  std::unique_ptr<LiveEventEmitter> emitter_;
  std::size_t readTo_ = 0;
  std::int64_t lastSeq_ = 0;
  std::size_t errors_ = 0;
  std::optional<std::int64_t> openSession_;
};

}  // namespace tolva::fuzz

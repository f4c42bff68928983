#include "live/protocol/live_event_emitter.hpp"

#include <chrono>

#include "app/process.hpp"
#include "locale/graphemes.hpp"
#include "output/json_writer.hpp"
#include "output/log.hpp"

namespace tolva {
namespace {

std::int64_t millisecondsSinceProcessStart() {
  auto elapsed = WallClock::now() - processStart();
  return std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
}

// Keeps the end of an overlong text: a dictation's latest words matter most.
void capText(JsonObject& fields) {
  auto found = fields.find("text");
  if (found == fields.end()) return;
  const auto* text = found->second.get<std::string>();
  // A text of at most 8192 bytes cannot hold more than 8192 clusters.
  if (!text || text->size() <= static_cast<std::size_t>(maxEventTextChars)) return;
  if (graphemeCount(*text) <= static_cast<std::size_t>(maxEventTextChars)) return;
  found->second = lastGraphemes(*text, static_cast<std::size_t>(maxEventTextChars));
  fields["truncated"] = true;
}

}  // namespace

std::string LiveEventEmitter::lineFor(std::int64_t seq, std::string_view event, JsonObject fields) const {
  fields["event"] = std::string(event);
  fields["seq"] = seq;
  fields["tMs"] = millisecondsSinceProcessStart();
  capText(fields);
  std::optional<std::string> line = writeJsonCompact(JsonValue(std::move(fields)));
  if (!line) return "{\"event\":\"error\",\"code\":\"encode-failed\",\"seq\":" + std::to_string(seq) + "}\n";
  *line += '\n';
  return *line;
}

void LiveEventEmitter::emit(std::string_view event, JsonObject fields) {
  std::lock_guard lock(mutex_);
  std::int64_t seq = ++sequence_;
  writeAll(fd_, lineFor(seq, event, std::move(fields)));
}

void LiveEventEmitter::emitError(std::string_view code, std::string_view message, std::optional<std::int64_t> session) {
  JsonObject fields{{"code", std::string(code)}, {"message", std::string(message)}};
  if (session) fields["session"] = *session;
  emit("error", std::move(fields));
  log("listen.error", {{"code", std::string(code)}});
}

const std::shared_ptr<LiveEventEmitter>& sharedLiveEvents() {
  // Leaked on purpose: no destructor may race with threads still emitting at exit.
  static const auto* const instance = new std::shared_ptr<LiveEventEmitter>(std::make_shared<LiveEventEmitter>());
  return *instance;
}

LiveEventEmitter& liveEvents() { return *sharedLiveEvents(); }

}  // namespace tolva

#include "output/log.hpp"

#include <atomic>
#include <cstdio>

#include "app/process.hpp"
#include "output/fd_write.hpp"
#include "output/json_writer.hpp"
#include "output/log_writer.hpp"

namespace tolva {
namespace {

std::atomic<bool> silenced{false};

LogWriter& stderrWriter() {
  // Leaked on purpose: threads may still log while the process exits.
  static LogWriter* const writer = new LogWriter(stderrFd);
  return *writer;
}

}  // namespace

std::optional<std::string> logLine(double seconds, std::string_view event, LogFields fields) {
  char t[64];
  std::snprintf(t, sizeof t, "%.3f", seconds);
  // Caller fields replace the reserved keys, should one ever pass them.
  fields.try_emplace("t", std::string(t));
  fields.try_emplace("event", std::string(event));
  auto line = writeJsonCompact(JsonValue(std::move(fields)));
  if (!line) return std::nullopt;
  *line += '\n';
  return line;
}

void log(std::string_view event, LogFields fields) {
  if (silenced.load(std::memory_order_relaxed)) return;
  double seconds = std::chrono::duration<double>(WallClock::now() - processStart()).count();
  if (auto line = logLine(seconds, event, std::move(fields))) stderrWriter().write(*line, seconds);
}

void silenceLog() { silenced = true; }

}  // namespace tolva

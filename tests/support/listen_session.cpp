#include "support/listen_session.hpp"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <stdexcept>

#include "support/run_tool.hpp"

namespace tolva::test {

CapturedEvents::CapturedEvents() : fd_(memfd_create("tolva-events", MFD_CLOEXEC)) {
  if (fd_ < 0) throw std::runtime_error("memfd_create failed");
  emitter_ = std::make_shared<LiveEventEmitter>(fd_);
}

std::string CapturedEvents::text() const {
  std::string text;
  char buffer[65536];
  for (off_t at = 0;;) {
    ssize_t n = pread(fd_, buffer, sizeof buffer, at);
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
    at += n;
  }
  return text;
}

std::vector<Json> CapturedEvents::events() const {
  std::vector<Json> events;
  for (const auto& line : lines(text())) {
    auto event = Json::parse(line, nullptr, false);
    EXPECT_TRUE(event.is_object()) << "not a JSON object: " << line;
    events.push_back(event);
  }
  return events;
}

std::vector<std::string> CapturedEvents::names() const {
  std::vector<std::string> names;
  for (const auto& event : events()) names.push_back(event.value("event", ""));
  return names;
}

}  // namespace tolva::test

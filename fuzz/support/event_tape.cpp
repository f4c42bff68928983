#include "support/event_tape.hpp"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/fuzz_support.hpp"

namespace tolva::fuzz {
namespace {

// One file for the whole process, emptied for every tape: a fuzz run makes
// millions of tapes.
int tapeFile() {
  static const int fd = [] {
    int made = memfd_create("tolva-fuzz-events", MFD_CLOEXEC);
    if (made < 0) fail("memfd_create failed");
    return made;
  }();
  return fd;
}

}  // namespace

EventTape::EventTape() {
  int fd = tapeFile();
  if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0) fail("cannot reset the event tape");
  emitter_ = std::make_unique<LiveEventEmitter>(fd);
}

std::vector<nlohmann::json> EventTape::take() {
  struct stat info {};
  fstat(tapeFile(), &info);
  auto end = static_cast<std::size_t>(info.st_size);
  std::string text(end - readTo_, '\0');
  if (!text.empty() &&
      pread(tapeFile(), text.data(), text.size(), static_cast<off_t>(readTo_)) != static_cast<ssize_t>(text.size())) {
    fail("cannot read the event tape");
  }
  readTo_ = end;
  auto events = requireJsonLines(text, "the event emitter");
  std::size_t at = 0;
  for (auto& event : events) {
    std::size_t lineBytes = text.find('\n', at) - at;
    at += lineBytes + 1;
    check(event, lineBytes);
  }
  return events;
}

void EventTape::check(nlohmann::json& event, std::size_t lineBytes) {
  require(lineBytes <= static_cast<std::size_t>(maxEventLineBytes),
          [&] { return "an event line of " + std::to_string(lineBytes) + " bytes"; });
  require(event["event"].is_string(), "an event without a string `event`");
  require(event["seq"].is_number_integer() && event["seq"].get<std::int64_t>() == lastSeq_ + 1,
          [&] { return "seq " + event["seq"].dump() + " follows " + std::to_string(lastSeq_); });
  ++lastSeq_;
  const auto& name = event["event"].get_ref<const std::string&>();
  if (name == "error") {
    ++errors_;
    require(event["code"].is_string() && event["message"].is_string(), "an error event without code and message");
    require(event["code"] != "encode-failed", "an event could not be encoded");
  }
  require(event["tMs"].is_number_integer() && event["tMs"].get<std::int64_t>() >= 0, "an event without a whole tMs");
  if (name == "session-started") {
    require(!openSession_, "a session started while another was running");
    openSession_ = event["session"].get<std::int64_t>();
  } else if (name == "session-ended") {
    require(openSession_ == event["session"].get<std::int64_t>(), "a session ended that had not started");
    openSession_.reset();
  }
}

void EventTape::requireSessionsClosed() const { require(!openSession_, "a session started and never ended"); }

}  // namespace tolva::fuzz

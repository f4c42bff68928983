#include "output/log.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>

#include "output/log_writer.hpp"

namespace tolva {
namespace {

TEST(Log, LineHasTimeWithThreeDecimalsAndEvent) {
  EXPECT_EQ(logLine(2.5, "probe.start", {}), "{\"event\":\"probe.start\",\"t\":\"2.500\"}\n");
  EXPECT_EQ(logLine(0.0424, "fatal", {}), "{\"event\":\"fatal\",\"t\":\"0.042\"}\n");
}

TEST(Log, FieldsAreEncodedCompactWithEscapes) {
  auto line = logLine(1, "transcribe.start", {{"path", "/tmp/a b\n.wav"}, {"n", 3}, {"ok", true}, {"x", 0.25}});
  ASSERT_TRUE(line);
  EXPECT_EQ(*line,
            "{\"event\":\"transcribe.start\",\"n\":3,\"ok\":true,\"path\":\"\\/tmp\\/a b\\n.wav\",\"t\":\"1.000\","
            "\"x\":0.25}\n");
  EXPECT_EQ(line->find('\n'), line->size() - 1);
}

TEST(Log, NonFiniteValueDropsTheLine) {
  EXPECT_FALSE(logLine(1, "transcribe.done", {{"realtimeFactor", std::numeric_limits<double>::infinity()}}));
}

TEST(Log, CallerFieldsReplaceReservedKeys) {
  auto line = logLine(1, "x", {{"t", "mine"}});
  ASSERT_TRUE(line);
  EXPECT_EQ(nlohmann::json::parse(*line)["t"], "mine");
}

}  // namespace
}  // namespace tolva

namespace tolva {
namespace {

struct SmallPipe {
  int fds[2] = {-1, -1};
  SmallPipe() {
    EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
    fcntl(fds[1], F_SETPIPE_SZ, 4096);
  }
  ~SmallPipe() {
    close(fds[0]);
    close(fds[1]);
  }
  std::string drain() const {
    std::string text;
    char buffer[4096];
    pollfd fd{fds[0], POLLIN, 0};
    while (poll(&fd, 1, 0) > 0) {
      ssize_t n = read(fds[0], buffer, sizeof buffer);
      if (n <= 0) break;
      text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
  }
};

std::string lineOf(std::size_t size) {
  std::string line = *logLine(1, "test.line", {{"pad", std::string(size, 'x')}});
  return line;
}

TEST(LogWriter, ALineThatCannotLeaveAtOnceIsCountedAndTheNextOneSaysSo) {
  SmallPipe pipe;
  LogWriter writer(pipe.fds[1]);
  std::string line = lineOf(100);
  for (int i = 0; i < 200; ++i) writer.write(line, 1);  // far more than the pipe holds; never waits
  std::int64_t dropped = writer.droppedLines();
  EXPECT_GT(dropped, 0);
  std::string first = pipe.drain();
  EXPECT_EQ(first.size() % line.size(), 0u) << "a line was cut";
  EXPECT_EQ(static_cast<std::int64_t>(first.size() / line.size()) + dropped, 200);
  writer.write(line, 2.5);
  EXPECT_EQ(pipe.drain(),
            "{\"event\":\"log.dropped\",\"lines\":" + std::to_string(dropped) + ",\"t\":\"2.500\"}\n" + line);
  EXPECT_EQ(writer.droppedLines(), 0);
  writer.write(line, 3);
  EXPECT_EQ(pipe.drain(), line);
}

TEST(LogWriter, LeavesTheSharedDescriptionBlocking) {
  SmallPipe pipe;
  LogWriter writer(pipe.fds[1]);
  writer.write(lineOf(10), 1);
  EXPECT_EQ(fcntl(pipe.fds[1], F_GETFL) & O_NONBLOCK, 0);
}

TEST(LogWriter, ALineLongerThanThePipeLeavesWholeBeforeAnyOther) {
  SmallPipe pipe;
  LogWriter writer(pipe.fds[1]);
  std::string longLine = lineOf(10000);
  std::string shortLine = lineOf(10);
  writer.write(longLine, 1);
  std::string seen;
  for (int round = 0; round < 10 && seen.size() < longLine.size() + shortLine.size(); ++round) {
    writer.write(shortLine, 1);
    seen += pipe.drain();
  }
  ASSERT_GE(seen.size(), longLine.size());
  EXPECT_EQ(seen.substr(0, longLine.size()), longLine);
  std::istringstream rest(seen.substr(longLine.size()));
  for (std::string line; std::getline(rest, line);) {
    EXPECT_TRUE(nlohmann::json::parse(line, nullptr, false).is_object()) << line;
  }
}

TEST(LogWriter, WritesThroughASocketWithoutWaiting) {
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
  int size = 4096;
  setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  {
    LogWriter writer(fds[1]);
    for (int i = 0; i < 2000; ++i) writer.write(lineOf(100), 1);
    EXPECT_GT(writer.droppedLines(), 0);
  }
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
}  // namespace tolva

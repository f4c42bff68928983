#include "output/emit.hpp"
#include "output/fd_write.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <limits>

namespace tolva {
namespace {

// What emitDocument writes to standard output.
std::string emitted(const JsonValue& document) {
  std::FILE* capture = std::tmpfile();
  int saved = dup(stdoutFd);
  dup2(fileno(capture), stdoutFd);
  emitDocument(document);
  dup2(saved, stdoutFd);
  close(saved);
  std::string out;
  std::rewind(capture);
  for (int c; (c = std::fgetc(capture)) != EOF;) out += static_cast<char>(c);
  std::fclose(capture);
  return out;
}

TEST(Emit, WritesThePrettyDocumentAndOneLineFeed) {
  EXPECT_EQ(emitted(toJson(ErrorOut{"usage", "a/b", std::nullopt})),
            "{\n  \"error\" : \"usage\",\n  \"message\" : \"a\\/b\"\n}\n");
  EXPECT_EQ(emitted(toJson(ErrorOut{"x", "y", ""})), "{\n  \"detail\" : \"\",\n  \"error\" : \"x\",\n  \"message\" : \"y\"\n}\n");
}

TEST(Emit, NonFiniteNumberWritesTheEncodeFailedText) {
  TranscriptionOut out;
  out.duration = std::numeric_limits<double>::infinity();
  std::string text = emitted(toJson(out));
  EXPECT_EQ(text, "{\"error\":\"encode-failed\"}\n");
  EXPECT_EQ(text.size(), 26u);
}

TEST(Emit, OptionalMembersAreLeftOutWhenAbsent) {
  EXPECT_EQ(toJson(TranscriptionOut{}).get<JsonObject>()->size(), 8u);
  EXPECT_EQ(toJson(InstallOut{}).get<JsonObject>()->size(), 9u);
  EXPECT_EQ(toJson(ProbeOut{}).get<JsonObject>()->size(), 14u);
}

}  // namespace
}  // namespace tolva

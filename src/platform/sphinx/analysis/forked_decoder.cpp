#include "platform/sphinx/analysis/forked_decoder.hpp"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "output/log.hpp"
#include "platform/platform_error.hpp"

namespace tolva::sphinx {
namespace {

// Far beyond the splitter's longest utterance; a count past it is nonsense.
constexpr std::uint64_t maxSamples = std::uint64_t{1} << 28;
constexpr std::uint32_t maxWords = 1 << 20;
constexpr std::uint32_t maxWordBytes = 1 << 12;

bool sendAll(int fd, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t sent = send(fd, bytes, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

bool receiveAll(int fd, void* data, std::size_t size) {
  auto* bytes = static_cast<char*>(data);
  while (size > 0) {
    ssize_t got = recv(fd, bytes, size, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

template <class T>
void append(std::string& out, const T& value) {
  out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

std::string encode(const UtteranceWords& decoded) {
  std::string out;
  append(out, static_cast<std::uint32_t>(decoded.words.size()));
  for (const TimedWord& word : decoded.words) {
    append(out, static_cast<std::uint32_t>(word.text.size()));
    out += word.text;
    append(out, word.startFrame);
    append(out, word.endFrame);
    append(out, word.posterior);
  }
  append(out, decoded.alternatives);
  return out;
}

// The child's whole life: utterances in, words out, until the parent closes
// its end. Nothing here may throw out of it or return.
[[noreturn]] void serve(Decoder& decoder, int socket, bool alternatives, pid_t parent) {
  silenceLog();
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(0);
  for (int number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) signal(number, SIG_IGN);
  // Only its own end of the socket pair: another child's ends, inherited,
  // would keep that child from seeing its parent close.
  if (socket > 3) close_range(3, static_cast<unsigned>(socket) - 1, 0);
  close_range(static_cast<unsigned>(socket) + 1, ~0U, 0);
  try {
    std::vector<std::int16_t> samples;
    for (;;) {
      std::uint64_t count = 0;
      if (!receiveAll(socket, &count, sizeof count) || count > maxSamples) _exit(0);
      samples.resize(count);
      if (!receiveAll(socket, samples.data(), count * sizeof(std::int16_t))) _exit(0);
      std::string answer = encode(decodeWords(decoder, samples, alternatives));
      if (!sendAll(socket, answer.data(), answer.size())) _exit(0);
    }
  } catch (...) {
    _exit(1);  // the parent sees the socket close
  }
}

PlatformError childGone() { return PlatformError("a decoding process ended before it answered"); }

template <class T>
T receiveValue(int socket) {
  T value{};
  if (!receiveAll(socket, &value, sizeof value)) throw childGone();
  return value;
}

}  // namespace

ForkedDecoder::ForkedDecoder(Decoder& decoder, bool alternatives) {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    throw PlatformError(std::string("cannot make a decoding process: ") + std::strerror(errno));
  }
  pid_t parent = getpid();
  child_ = fork();
  if (child_ == 0) {
    close(ends[0]);
    serve(decoder, ends[1], alternatives, parent);
  }
  close(ends[1]);
  if (child_ < 0) {
    int error = errno;
    close(ends[0]);
    throw PlatformError(std::string("cannot make a decoding process: ") + std::strerror(error));
  }
  socket_ = ends[0];
}

ForkedDecoder::~ForkedDecoder() {
  close(socket_);
  kill(child_, SIGKILL);  // it may be in the middle of an utterance nobody wants now
  while (waitpid(child_, nullptr, 0) < 0 && errno == EINTR) {
  }
}

UtteranceWords ForkedDecoder::decode(std::span<const std::int16_t> samples) {
  auto count = static_cast<std::uint64_t>(samples.size());
  if (!sendAll(socket_, &count, sizeof count) || !sendAll(socket_, samples.data(), samples.size_bytes())) {
    throw childGone();
  }
  UtteranceWords decoded;
  auto words = receiveValue<std::uint32_t>(socket_);
  if (words > maxWords) throw PlatformError("a decoding process answered nonsense");
  decoded.words.resize(words);
  for (TimedWord& word : decoded.words) {
    auto bytes = receiveValue<std::uint32_t>(socket_);
    if (bytes > maxWordBytes) throw PlatformError("a decoding process answered nonsense");
    word.text.resize(bytes);
    if (!receiveAll(socket_, word.text.data(), bytes)) throw childGone();
    word.startFrame = receiveValue<int>(socket_);
    word.endFrame = receiveValue<int>(socket_);
    word.posterior = receiveValue<double>(socket_);
  }
  decoded.alternatives = receiveValue<std::int64_t>(socket_);
  return decoded;
}

}  // namespace tolva::sphinx

#include "support/fuzz_support.hpp"

#include <fcntl.h>
#include <sanitizer/common_interface_defs.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tolva::fuzz {
namespace {

namespace fs = std::filesystem;

int savedStderr = 2;  // the real standard error, also while a LogCapture runs
int captureFile = -1;

void writeRaw(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t written = write(fd, text.data(), text.size());
    if (written <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
}

fs::path makeScratchDirectory() {
  std::string base = "/dev/shm";
  if (access(base.c_str(), W_OK) != 0) {
    const char* tmp = std::getenv("TMPDIR");
    base = tmp && *tmp ? tmp : "/tmp";
  }
  std::string pattern = base + "/tolva-fuzz.XXXXXX";
  if (!mkdtemp(pattern.data())) fail("cannot create a scratch directory under " + base);
  return pattern;
}

// The byte ranges a well-formed sequence may take after its lead byte
// (Unicode, table 3-7); count 0 for a byte that cannot lead.
struct LeadRule {
  int count = 0;
  std::uint8_t secondLow = 0x80, secondHigh = 0xBF;
};

LeadRule ruleFor(std::uint8_t lead) {
  if (lead <= 0x7F) return {1};
  if (lead >= 0xC2 && lead <= 0xDF) return {2};
  if (lead == 0xE0) return {3, 0xA0, 0xBF};
  if (lead == 0xED) return {3, 0x80, 0x9F};
  if (lead >= 0xE1 && lead <= 0xEF) return {3};
  if (lead == 0xF0) return {4, 0x90, 0xBF};
  if (lead >= 0xF1 && lead <= 0xF3) return {4};
  if (lead == 0xF4) return {4, 0x80, 0x8F};
  return {0};
}

// The length of the well-formed sequence at `at` (positive), or minus the
// length of its maximal ill-formed subpart.
long sequenceAt(std::string_view text, std::size_t at) {
  auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  LeadRule rule = ruleFor(byte(at));
  if (rule.count == 0) return -1;
  for (int k = 1; k < rule.count; ++k) {
    std::size_t i = at + static_cast<std::size_t>(k);
    std::uint8_t low = k == 1 ? rule.secondLow : 0x80;
    std::uint8_t high = k == 1 ? rule.secondHigh : 0xBF;
    if (i >= text.size() || byte(i) < low || byte(i) > high) return -k;
  }
  return rule.count;
}

}  // namespace

void initializeFuzzSupport() {
  savedStderr = fcntl(2, F_DUPFD_CLOEXEC, 3);
  if (savedStderr < 0) savedStderr = 2;
  __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<std::intptr_t>(savedStderr)));
  captureFile = memfd_create("tolva-fuzz-log", MFD_CLOEXEC);
  if (captureFile < 0) fail("memfd_create failed");
  scratchDirectory();
}

void fail(std::string_view reason) {
  // libFuzzer reports the crash on standard error: give it back first.
  if (savedStderr != 2) dup2(savedStderr, 2);
  writeRaw(savedStderr, "\n==tolva-fuzz== finding: ");
  writeRaw(savedStderr, reason);
  writeRaw(savedStderr, "\n");
  std::abort();
}

const fs::path& scratchDirectory() {
  static const fs::path directory = [] {
    fs::path made = makeScratchDirectory();
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(scratchDirectory(), ignored);
    });
    return made;
  }();
  return directory;
}

void writeFile(const fs::path& path, const std::uint8_t* data, std::size_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) fail("cannot write " + path.string() + ": " + std::strerror(errno));
  writeRaw(fd, std::string_view(reinterpret_cast<const char*>(data), size));
  close(fd);
}

LogCapture::LogCapture() {
  if (ftruncate(captureFile, 0) != 0 || lseek(captureFile, 0, SEEK_SET) != 0) fail("cannot reset the log capture");
  dup2(captureFile, 2);
}

LogCapture::~LogCapture() {
  if (active_) dup2(savedStderr, 2);
}

std::string LogCapture::finish() {
  active_ = false;
  dup2(savedStderr, 2);
  struct stat info {};
  fstat(captureFile, &info);
  std::string text(static_cast<std::size_t>(info.st_size), '\0');
  if (!text.empty() && pread(captureFile, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
    fail("cannot read the log capture");
  }
  return text;
}

std::vector<nlohmann::json> requireJsonLines(std::string_view text, std::string_view what) {
  std::vector<nlohmann::json> lines;
  require(text.empty() || text.back() == '\n', [&] { return std::string(what) + ": the last line has no line feed"; });
  while (!text.empty()) {
    std::string_view line = text.substr(0, text.find('\n'));
    text.remove_prefix(line.size() + 1);
    std::string shown(line.substr(0, 300));
    require(wellFormedUtf8(line), [&] { return std::string(what) + " wrote a line that is not UTF-8: " + shown; });
    auto parsed = nlohmann::json::parse(line, nullptr, false);
    require(parsed.is_object(),
            [&] { return std::string(what) + " wrote a line that is not a JSON object: " + shown; });
    lines.push_back(std::move(parsed));
  }
  return lines;
}

bool wellFormedUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    long length = sequenceAt(text, at);
    if (length < 0) return false;
    at += static_cast<std::size_t>(length);
  }
  return true;
}

std::string withReplacements(std::string_view text) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    long length = sequenceAt(text, at);
    if (length > 0) {
      out.append(text.substr(at, static_cast<std::size_t>(length)));
      at += static_cast<std::size_t>(length);
    } else {
      out += "\xEF\xBF\xBD";
      at += static_cast<std::size_t>(-length);
    }
  }
  return out;
}

}  // namespace tolva::fuzz

#pragma once
// What every fuzz target shares: failing loudly with a reason, a scratch
// directory on a RAM disk, capturing the diagnostic log a call writes, and an
// oracle for UTF-8 written from the Unicode standard's table of well-formed
// byte sequences, independent of the code under test.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace tolva::fuzz {

// Called first by each target's LLVMFuzzerInitialize: keeps a copy of
// standard error for sanitizer reports and for fail(), so that they survive
// while a LogCapture has standard error redirected.
void initializeFuzzSupport();

// Prints the reason with the input's size and aborts: a finding.
[[noreturn]] void fail(std::string_view reason);
inline void require(bool condition, std::string_view reason) {
  if (!condition) fail(reason);
}
// The same with a reason that is built only when the condition fails.
template <class Describe>
requires std::is_invocable_v<Describe>
void require(bool condition, Describe&& describe) {
  if (!condition) fail(describe());
}

// A directory of this process for files a target writes, on /dev/shm when it
// can (fsync there costs nothing), else under $TMPDIR or /tmp. Removed at exit.
const std::filesystem::path& scratchDirectory();

// Writes bytes into a file, replacing it; fails the run when it cannot.
void writeFile(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size);

// Redirects standard error (the diagnostic log) into an anonymous file while
// it lives; lines() hands back what was written.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // Restores standard error and returns what was written meanwhile.
  std::string finish();

 private:
  bool active_ = true;
};

// The lines of `text`, each ended by a line feed, valid UTF-8 and one JSON
// object; fails the run otherwise, naming `what` wrote them.
std::vector<nlohmann::json> requireJsonLines(std::string_view text, std::string_view what);

// The oracle: whether `text` is well-formed UTF-8, and `text` with each
// maximal ill-formed subpart replaced by one U+FFFD.
bool wellFormedUtf8(std::string_view text);
std::string withReplacements(std::string_view text);

}  // namespace tolva::fuzz

#pragma once
// Unbuffered output straight to a file descriptor.

#include <string_view>

namespace tolva {

inline constexpr int stdoutFd = 1;
inline constexpr int stderrFd = 2;

// Writes all of `bytes` with write(2), retrying partial writes and EINTR.
// Returns false when the descriptor refuses (for instance a closed pipe); the
// callers' contracts say such a failure is ignored.
bool writeAll(int fd, std::string_view bytes);

}  // namespace tolva

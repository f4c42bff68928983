#pragma once
// liveRunBounded: runs an operation against a deadline and says whether it
// completed in time. The caller decides what a timeout means.
//
// The operation runs on its own thread and receives a stop token that is
// triggered when the deadline wins. After a timeout the operation is never
// waited for: it keeps running until it notices the token, alone, so it must
// hold shared ownership (std::shared_ptr) of everything it touches. Its late
// completion has no effect on the caller.

#include <cstdint>
#include <functional>
#include <stop_token>

namespace tolva {

using BoundedOperation = std::function<void(std::stop_token)>;

// True when `operation` returned before `timeoutMs` milliseconds passed on the
// monotonic clock. A timeout of 0 or less fires at once, so the result is then
// false unless the operation had already finished.
bool liveRunBounded(std::int64_t timeoutMs, BoundedOperation operation);

}  // namespace tolva

#include "platform/linux_platform.hpp"

#include "platform/platform_error.hpp"

namespace tolva {

// The PocketSphinx engine and the FFmpeg audio system are not in this build
// yet; every subcommand that needs them reports that.
Platform& linuxPlatform() { throw PlatformError("the Linux speech platform is not built into this binary yet"); }

}  // namespace tolva

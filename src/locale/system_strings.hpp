#pragma once
// Operating-system strings for the probe.

#include <optional>
#include <string>

namespace tolva {

// A named text parameter of the operating system, "unknown" when it has none.
// Dotted names are kernel parameters under /proc/sys (kernel.ostype reads
// /proc/sys/kernel/ostype); machdep.cpu.brand_string names the processor
// model the kernel reports, so that the probe's `cpu` is a real CPU name.
std::string sysctlString(const std::string& name);

// The distribution's pretty name and the kernel release:
// "Debian GNU/Linux 12 (bookworm); Linux 6.1.0-18-amd64".
std::string osVersionString();

}  // namespace tolva

#pragma once
// Checks a module file before dlopen maps it. The loader maps a shared
// object's segments straight from the file, so one cut short (a full disk, an
// interrupted copy or package unpack) maps pages past its end, and the first
// touch of such a page kills the process with SIGBUS. A file that is not a
// regular file, or whose ELF header, program headers or segments reach past
// its size, is refused here instead.

#include <optional>
#include <string>

namespace tolva {

// Why the file at `path` cannot be a loadable module, or nothing when it may be
// handed to dlopen (which makes its own, further checks).
std::optional<std::string> moduleFileProblem(const std::string& path);

}  // namespace tolva

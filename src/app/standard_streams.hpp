#pragma once
// A parent may start us with standard input, output or error closed. The next
// descriptor we open would then take that number (a pipe read as our input,
// a file written with our documents), so each closed one is opened on
// /dev/null before anything else opens a descriptor.

namespace tolva {

void openClosedStandardStreams();

}  // namespace tolva

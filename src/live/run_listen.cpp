// The listen service is not built yet.
#include "commands/commands.hpp"
#include "output/emit.hpp"

namespace tolva {

void runListen(Platform&) { fail("not-implemented", "the listen subcommand is not implemented yet"); }

}  // namespace tolva

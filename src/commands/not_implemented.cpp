// Handlers whose subcommands are not built yet. Each file that implements a
// handler removes it from here.
#include "commands/commands.hpp"
#include "output/emit.hpp"

namespace tolva {
namespace {

[[noreturn]] void notImplemented(const std::string& subcommand) {
  fail("not-implemented", "the " + subcommand + " subcommand is not implemented yet");
}

}  // namespace

void cmdProbe(Platform&, const std::optional<std::string>&) { notImplemented("probe"); }
void cmdInstall(Platform&, const std::string&) { notImplemented("install"); }
void cmdRelease(Platform&, const std::string&) { notImplemented("release"); }
void cmdTranscribe(Platform&, const std::string&, const std::string&, bool) { notImplemented("transcribe"); }

}  // namespace tolva

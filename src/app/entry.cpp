#include "app/entry.hpp"

#include <unistd.h>

#include <algorithm>
#include <csignal>

#include "app/process.hpp"
#include "app/standard_streams.hpp"
#include "app/usage.hpp"
#include "commands/commands.hpp"
#include "locale/locale.hpp"
#include "output/emit.hpp"
#include "output/fd_write.hpp"
#include "platform/platform_error.hpp"

namespace tolva {

std::optional<std::string> parseFlag(const std::vector<std::string>& arguments, const std::string& flag) {
  const std::string joined = flag + "=";
  for (auto at = arguments.begin(); at != arguments.end(); ++at) {
    if (*at == flag) return std::next(at) == arguments.end() ? std::nullopt : std::optional(*std::next(at));
    if (at->starts_with(joined)) return at->substr(joined.size());
  }
  return std::nullopt;
}

bool localeWasDefaulted() { return !parseFlag(args(), "--locale"); }

namespace {

bool hasFlag(const std::vector<std::string>& arguments, const std::string& flag) {
  return std::find(arguments.begin(), arguments.end(), flag) != arguments.end();
}

void dispatch(const std::vector<std::string>& arguments, const PlatformProvider& platform) {
  const std::string& subcommand = arguments[0];
  if (subcommand == "--version") {
    writeAll(stdoutFd, TOLVA_VERSION "\n");
  } else if (subcommand == "probe") {
    cmdProbe(platform, parseFlag(arguments, "--locale"));
  } else if (subcommand == "install") {
    cmdInstall(platform, parseFlag(arguments, "--locale").value_or("de-DE"));
  } else if (subcommand == "release") {
    cmdRelease(platform, parseFlag(arguments, "--locale").value_or(""));
  } else if (subcommand == "transcribe") {
    if (arguments.size() < 2 || arguments[1].starts_with("--")) {
      fail("usage", "transcribe requires an audio file path");
    }
    auto options = parseTranscribeOptions(arguments);
    if (const auto* problem = std::get_if<std::string>(&options)) fail("usage", *problem);
    cmdTranscribe(platform, arguments[1], parseFlag(arguments, "--locale").value_or("de-DE"),
                  hasFlag(arguments, "--auto-install"), std::get<TranscribeOptions>(options));
  } else if (subcommand == "devices") {
    cmdDevices(platform);
  } else if (subcommand == "listen") {
    runListen(platform());
  } else {
    fail("unknown-command", "unknown subcommand '" + subcommand + "'");
  }
}

}  // namespace

void run(int argc, char** argv, const PlatformProvider& platform) {
  recordProcessStart();
  openClosedStandardStreams();
  setArgs(std::vector<std::string>(argv + std::min(argc, 1), argv + argc));
  prepareLocaleData();
  // A parent that closed its end of a pipe must not kill us mid-write.
  std::signal(SIGPIPE, SIG_IGN);
  if (args().empty()) {
    writeAll(stderrFd, usageText);
    _exit(2);
  }
  try {
    dispatch(args(), platform);
  } catch (...) {
    // Handlers turn every expected failure into their own error document;
    // anything that still escapes gets a document too rather than an abort.
    fail("internal-error", "unexpected failure", describe(std::current_exception()));
  }
  _exit(0);
}

}  // namespace tolva

#pragma once
// The subcommand handlers. A one-shot handler emits its document and returns,
// or ends the process through fail(). runListen never returns.

#include <optional>
#include <string>

#include "commands/transcribe_options.hpp"
#include "platform/platform.hpp"

namespace tolva {

void cmdProbe(const PlatformProvider& platform, const std::optional<std::string>& requestedLocaleId);
void cmdInstall(const PlatformProvider& platform, const std::string& localeId);
void cmdRelease(const PlatformProvider& platform, const std::string& localeId);
void cmdTranscribe(const PlatformProvider& platform, const std::string& path, const std::string& localeId,
                   bool autoInstall, const TranscribeOptions& options = {});
void cmdDevices(const PlatformProvider& platform);
[[noreturn]] void runListen(Platform& platform);

}  // namespace tolva

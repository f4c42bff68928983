#include "live/command_line.hpp"

#include <limits>
#include <nlohmann/json.hpp>

#include "live/command_json.hpp"
#include "live/live_whitespace.hpp"

namespace tolva {
namespace {

using nlohmann::json;

// A whole number within the signed 64-bit range, however it was written
// (50, 5e1, 50.0), judged on its exact text; anything else gives the default.
std::int64_t chunkMsOf(const CommandJson& command) {
  auto found = command.value.find("chunkMs");
  if (found == command.value.end()) return defaultChunkMs;
  if (found->is_number_integer() && !found->is_number_unsigned()) return found->get<std::int64_t>();
  if (found->is_number_unsigned()) {
    auto value = found->get<std::uint64_t>();
    if (value <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return static_cast<std::int64_t>(value);
    }
    return defaultChunkMs;
  }
  if (found->is_number_float() && command.chunkMsText) {
    return exactWholeNumber(*command.chunkMsText).value_or(defaultChunkMs);
  }
  return defaultChunkMs;
}

CommandLine parseStart(const CommandJson& parsed) {
  const json& command = parsed.value;
  auto locale = command.find("locale");
  if (locale == command.end() || !locale->is_string()) return command::MissingLocale{};
  StartRequest request;
  request.locale = locale->get<std::string>();
  auto replay = command.find("replay");
  if (replay != command.end() && replay->is_string()) request.replayPath = replay->get<std::string>();
  request.chunkMs = chunkMsOf(parsed);
  return command::Start{std::move(request)};
}

}  // namespace

CommandLine parseCommandLine(std::string_view line) {
  std::string_view text = trimWhitespaceAndNewlines(line);
  if (text.empty()) return command::Blank{};
  std::optional<CommandJson> parsed = parseCommandJson(text);
  if (!parsed || !parsed->value.is_object()) return command::Malformed{};
  const json& command = parsed->value;
  auto cmd = command.find("cmd");
  if (cmd == command.end() || !cmd->is_string()) return command::Malformed{};
  const auto& name = cmd->get_ref<const std::string&>();
  if (name == "start") return parseStart(*parsed);
  if (name == "stop") return command::Stop{};
  if (name == "quit") return command::Quit{};
  return command::Unknown{name};
}

}  // namespace tolva

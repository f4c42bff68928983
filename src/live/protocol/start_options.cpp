#include "live/protocol/start_options.hpp"

namespace tolva {
namespace {

using nlohmann::json;

std::optional<std::string> stringMember(const json& command, const char* key) {
  auto found = command.find(key);
  if (found == command.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

// A JSON integer within [1, largest].
std::optional<std::int64_t> countMember(const json& command, const char* key, std::int64_t largest) {
  auto found = command.find(key);
  if (found == command.end() || !found->is_number_integer()) return std::nullopt;
  if (found->is_number_unsigned() && found->get<std::uint64_t>() > static_cast<std::uint64_t>(largest)) {
    return std::nullopt;
  }
  auto value = found->get<std::int64_t>();
  if (value < 1 || value > largest) return std::nullopt;
  return value;
}

std::variant<std::optional<RawPcmFormat>, std::string> rawFormatOf(const json& command) {
  auto format = command.find("format");
  if (format == command.end()) return std::optional<RawPcmFormat>{};
  // Compared as a string: a json compared with a literal trips gcc 12's
  // array-bounds warning at -O3.
  const auto* name = format->is_string() ? format->get_ptr<const std::string*>() : nullptr;
  RawPcmFormat raw;
  if (name && *name == "s16le") {
    raw.sampleFormat = RawSampleFormat::s16le;
  } else if (name && *name == "f32le") {
    raw.sampleFormat = RawSampleFormat::f32le;
  } else {
    return std::string("`format` must be s16le or f32le");
  }
  auto rate = countMember(command, "rate", maxRawRate);
  auto channels = countMember(command, "channels", maxRawChannels);
  if (!rate || !channels) {
    return "a raw `format` needs a `rate` from 1 to " + std::to_string(maxRawRate) + " and `channels` from 1 to " +
           std::to_string(maxRawChannels);
  }
  raw.rate = *rate;
  raw.channels = *channels;
  return std::optional<RawPcmFormat>{raw};
}

}  // namespace

std::variant<StartAudioOptions, std::string> parseStartAudioOptions(const json& command) {
  StartAudioOptions options;
  options.device = stringMember(command, "device");
  auto stream = stringMember(command, "stream");
  if (!stream) return options;
  if (stringMember(command, "replay")) return std::string("`start` takes either `replay` or `stream`, not both");
  auto raw = rawFormatOf(command);
  if (auto* message = std::get_if<std::string>(&raw)) return std::move(*message);
  options.stream = AudioStreamRequest{std::move(*stream), std::get<std::optional<RawPcmFormat>>(raw)};
  return options;
}

}  // namespace tolva

#include "settings_arguments.hpp"

#include <charconv>
#include <functional>
#include <stdexcept>
#include <string_view>

#include "platform/sphinx/decoder/sphinx_options.hpp"

namespace tolva::bench {
namespace {

using sphinx::DecoderSettings;
using sphinx::SphinxSettings;

template <typename Number>
Number parseNumber(std::string_view text) {
  Number value{};
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) throw std::invalid_argument("not a number");
  return value;
}

bool parseYesNo(std::string_view text) {
  if (text == "yes") return true;
  if (text == "no") return false;
  throw std::invalid_argument("not yes or no");
}

std::string yesNo(bool value) { return value ? "yes" : "no"; }

// One setting of a decoder: how to read and to write it.
struct DecoderField {
  const char* name;
  std::function<void(DecoderSettings&, std::string_view)> set;
  std::function<std::string(const DecoderSettings&)> get;
};

template <typename Number>
DecoderField numberField(const char* name, Number DecoderSettings::*member) {
  return {name, [member](DecoderSettings& d, std::string_view v) { d.*member = parseNumber<Number>(v); },
          [member](const DecoderSettings& d) {
            if constexpr (std::is_floating_point_v<Number>) return sphinx::optionNumber(d.*member);
            return std::to_string(d.*member);
          }};
}

template <typename Number>
DecoderField voiceField(const char* name, Number sphinx::VoiceActivitySettings::*member) {
  return {name, [member](DecoderSettings& d, std::string_view v) { d.voice.*member = parseNumber<Number>(v); },
          [member](const DecoderSettings& d) {
            if constexpr (std::is_floating_point_v<Number>) return sphinx::optionNumber(d.voice.*member);
            return std::to_string(d.voice.*member);
          }};
}

const std::vector<DecoderField>& decoderFields() {
  using V = sphinx::VoiceActivitySettings;
  static const std::vector<DecoderField> fields{
      {"fwdflat", [](DecoderSettings& d, std::string_view v) { d.fwdflat = parseYesNo(v); },
       [](const DecoderSettings& d) { return yesNo(d.fwdflat); }},
      {"bestpath", [](DecoderSettings& d, std::string_view v) { d.bestpath = parseYesNo(v); },
       [](const DecoderSettings& d) { return yesNo(d.bestpath); }},
      numberField("beam", &DecoderSettings::beam),
      numberField("wbeam", &DecoderSettings::wbeam),
      numberField("pbeam", &DecoderSettings::pbeam),
      numberField("lw", &DecoderSettings::lw),
      numberField("wip", &DecoderSettings::wip),
      numberField("maxhmmpf", &DecoderSettings::maxhmmpf),
      voiceField("vad.threshold", &V::threshold),
      voiceField("vad.start", &V::speechFramesToStart),
      voiceField("vad.before", &V::framesBeforeSpeech),
      voiceField("vad.end", &V::silenceFramesToEnd),
      {"mean.prior", [](DecoderSettings& d, std::string_view v) { d.mean.priorFrames = parseNumber<int>(v); },
       [](const DecoderSettings& d) { return std::to_string(d.mean.priorFrames); }},
      {"mean.refresh", [](DecoderSettings& d, std::string_view v) { d.mean.refreshEachPiece = parseYesNo(v); },
       [](const DecoderSettings& d) { return yesNo(d.mean.refreshEachPiece); }},
  };
  return fields;
}

struct Decoders {
  const char* prefix;
  DecoderSettings SphinxSettings::*member;
};
constexpr Decoders decoders[] = {{"batch.", &SphinxSettings::wholeUtterance},
                                 {"dictation.", &SphinxSettings::streaming}};

std::string textStyleName(const std::optional<sphinx::TextStyle>& style) {
  if (!style) return "environment";
  if (*style == sphinx::TextStyle::raw) return "raw";
  return *style == sphinx::TextStyle::formatted ? "formatted" : "timed";
}

std::optional<sphinx::TextStyle> parseTextStyle(std::string_view text) {
  if (text == "timed") return sphinx::TextStyle::timedWords;
  if (std::optional<sphinx::TextStyle> style = sphinx::parseTextStyle(text)) return style;
  throw std::invalid_argument("not raw, formatted or timed");
}

void applyWord(std::string_view name, std::string_view value, SphinxSettings& settings) {
  if (name == "text") return void(settings.text.style = parseTextStyle(value));
  if (name == "text.pause") return void(settings.text.written.sentencePauseSeconds = parseNumber<double>(value));
  if (name == "splitter.lead") return void(settings.splitter.leadFrames = parseNumber<std::size_t>(value));
  if (name == "splitter.max") return void(settings.splitter.maxFrames = parseNumber<std::size_t>(value));
  for (const Decoders& decoder : decoders) {
    if (!name.starts_with(decoder.prefix)) continue;
    std::string_view field = name.substr(std::string_view(decoder.prefix).size());
    for (const DecoderField& known : decoderFields()) {
      if (field == known.name) return known.set(settings.*decoder.member, value);
    }
  }
  throw std::invalid_argument("unknown setting");
}

}  // namespace

void applySettingWords(const std::vector<std::string>& words, SphinxSettings& settings) {
  for (const std::string& word : words) {
    auto equals = word.find('=');
    if (equals == std::string::npos) throw std::invalid_argument("not name=value: " + word);
    try {
      applyWord(std::string_view(word).substr(0, equals), std::string_view(word).substr(equals + 1), settings);
    } catch (const std::invalid_argument& error) {
      throw std::invalid_argument(word + ": " + error.what());
    }
  }
  if (auto error = settings.validate()) throw std::invalid_argument(*error);
}

std::vector<std::string> settingWords(const SphinxSettings& settings) {
  std::vector<std::string> words;
  for (const Decoders& decoder : decoders) {
    for (const DecoderField& field : decoderFields()) {
      words.push_back(std::string(decoder.prefix) + field.name + "=" + field.get(settings.*decoder.member));
    }
  }
  words.push_back("splitter.lead=" + std::to_string(settings.splitter.leadFrames));
  words.push_back("splitter.max=" + std::to_string(settings.splitter.maxFrames));
  words.push_back("text=" + textStyleName(settings.text.style));
  words.push_back("text.pause=" + sphinx::optionNumber(settings.text.written.sentencePauseSeconds));
  return words;
}

}  // namespace tolva::bench

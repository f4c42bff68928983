#include "platform/scripted/scenario.hpp"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace tolva::scripted {
namespace {

using nlohmann::json;

AssetStatus statusNamed(const std::string& name) {
  static const std::map<std::string, AssetStatus> names{
      {"unsupported", AssetStatus::unsupported}, {"supported", AssetStatus::supported},
      {"downloading", AssetStatus::downloading}, {"installed", AssetStatus::installed},
      {"other", AssetStatus::other}};
  auto found = names.find(name);
  if (found == names.end()) throw std::runtime_error("unknown asset status '" + name + "'");
  return found->second;
}

template <class T>
void read(const json& object, const char* key, T& into) {
  if (object.contains(key)) into = object.at(key).get<T>();
}

template <class T>
void readOptional(const json& object, const char* key, std::optional<T>& into) {
  if (object.contains(key) && !object.at(key).is_null()) into = object.at(key).get<T>();
}

// A time in seconds; null stands for a value that is not finite.
double seconds(const json& value) {
  return value.is_null() ? std::numeric_limits<double>::quiet_NaN() : value.get<double>();
}

AudioFormat parseFormat(const json& object) {
  AudioFormat format;
  read(object, "sampleRate", format.sampleRate);
  read(object, "channels", format.channelCount);
  int code = 1;
  read(object, "commonFormat", code);
  format.commonFormat = static_cast<CommonFormat>(code);
  return format;
}

StatusScript parseStatus(const json& value) {
  StatusScript script;
  if (value.is_string()) {
    script.all = statusNamed(value.get<std::string>());
    return script;
  }
  for (const auto& [preset, name] : value.items()) script.byPreset[preset] = statusNamed(name.get<std::string>());
  return script;
}

InstallScript parseInstall(const json& value) {
  InstallScript script;
  if (value.is_null()) {
    script.present = false;
    return script;
  }
  readOptional(value, "requestError", script.requestError);
  readOptional(value, "downloadError", script.downloadError);
  read(value, "durationMs", script.durationMs);
  for (const auto& point : value.value("progress", json::array())) {
    script.progress.push_back({point.value("atMs", 0), point.value("fraction", 0.0),
                               point.value("completed", std::int64_t{0}), point.value("total", std::int64_t{0})});
  }
  return script;
}

ResultScript parseResult(const json& value) {
  ResultScript result;
  read(value, "text", result.text);
  if (value.contains("start")) result.start = seconds(value.at("start"));
  if (value.contains("end")) result.end = seconds(value.at("end"));
  read(value, "alternatives", result.alternatives);
  read(value, "isFinal", result.isFinal);
  read(value, "delayMs", result.delayMs);
  for (const auto& word : value.value("words", json::array())) {
    result.words.push_back({word.value("word", std::string()), seconds(word.value("start", json(0.0))),
                            seconds(word.value("end", json(0.0))), word.value("confidence", 1.0)});
  }
  return result;
}

AnalyzerScript parseAnalyzer(const json& value) {
  AnalyzerScript script;
  for (const auto& result : value.value("results", json::array())) script.results.push_back(parseResult(result));
  readOptional(value, "resultsError", script.resultsError);
  readOptional(value, "analyzeError", script.analyzeError);
  if (value.contains("lastTime")) {
    if (value.at("lastTime").is_null()) {
      script.noLastTime = true;
    } else {
      script.lastTime = seconds(value.at("lastTime"));
    }
  }
  readOptional(value, "startError", script.startError);
  readOptional(value, "finalizeError", script.finalizeError);
  read(value, "finalizeDelayMs", script.finalizeDelayMs);
  read(value, "finalizeHangs", script.finalizeHangs);
  read(value, "cancelDelayMs", script.cancelDelayMs);
  return script;
}

FileScript parseFile(const json& value) {
  FileScript file;
  file.format = parseFormat(value);
  if (file.format.sampleRate == 0) file.format.sampleRate = 16000;
  if (file.format.channelCount == 0) file.format.channelCount = 1;
  read(value, "length", file.length);
  readOptional(value, "openError", file.openError);
  readOptional(value, "readErrorAtFrame", file.readErrorAtFrame);
  read(value, "readErrorMessage", file.readErrorMessage);
  readOptional(value, "framesPerRead", file.framesPerRead);
  return file;
}

SourceScript parseSource(const json& value) {
  SourceScript source;
  read(value, "name", source.name);
  read(value, "description", source.description);
  source.format = parseFormat(value);
  read(value, "monitor", source.monitor);
  read(value, "default", source.isDefault);
  return source;
}

RawPcmFormat parseRaw(const json& value) {
  RawPcmFormat raw;
  raw.sampleFormat = value.value("format", "s16le") == "f32le" ? RawSampleFormat::f32le : RawSampleFormat::s16le;
  read(value, "rate", raw.rate);
  read(value, "channels", raw.channels);
  return raw;
}

StreamScript parseStream(const json& value) {
  StreamScript stream;
  stream.format = parseFormat(value);
  if (stream.format.sampleRate == 0) stream.format.sampleRate = 16000;
  if (stream.format.channelCount == 0) stream.format.channelCount = 1;
  read(value, "length", stream.length);
  read(value, "framesPerRead", stream.framesPerRead);
  read(value, "intervalMs", stream.intervalMs);
  readOptional(value, "openError", stream.openError);
  readOptional(value, "decodeError", stream.decodeError);
  if (value.contains("expectRaw")) stream.expectRaw = parseRaw(value.at("expectRaw"));
  return stream;
}

CaptureScript parseCapture(const json& value) {
  CaptureScript capture;
  if (value.contains("format")) capture.format = parseFormat(value.at("format"));
  for (const auto& source : value.value("sources", json::array())) capture.sources.push_back(parseSource(source));
  readOptional(value, "sourcesError", capture.sourcesError);
  readOptional(value, "formatError", capture.formatError);
  readOptional(value, "startError", capture.startError);
  read(value, "bufferFrames", capture.bufferFrames);
  read(value, "intervalMs", capture.intervalMs);
  read(value, "buffers", capture.buffers);
  readOptional(value, "haltAtMs", capture.haltAtMs);
  read(value, "changesAtMs", capture.changesAtMs);
  return capture;
}

void parseInventory(const json& root, Scenario& scenario) {
  read(root, "supportedLocales", scenario.supportedLocales);
  read(root, "installedLocales", scenario.installedLocales);
  read(root, "reservedLocales", scenario.reservedLocales);
  read(root, "equivalents", scenario.equivalents);
  const json statuses = root.value("status", json::object());
  for (const auto& [locale, value] : statuses.items()) scenario.status[locale] = parseStatus(value);
  read(root, "maximumReservedLocales", scenario.maximumReservedLocales);
  if (root.contains("reserve")) {
    readOptional(root.at("reserve"), "result", scenario.reserve.result);
    readOptional(root.at("reserve"), "error", scenario.reserve.error);
  }
  if (root.contains("release")) {
    readOptional(root.at("release"), "result", scenario.release.result);
    read(root.at("release"), "shrinks", scenario.release.shrinks);
    read(root.at("release"), "reservedMeanwhile", scenario.release.reservedMeanwhile);
    readOptional(root.at("release"), "error", scenario.release.error);
  }
  if (root.contains("install")) scenario.install = parseInstall(root.at("install"));
}

}  // namespace

Scenario parseScenario(const std::string& text) {
  try {
    json root = json::parse(text);
    Scenario scenario;
    read(root, "available", scenario.available);
    parseInventory(root, scenario);
    if (root.contains("analyzer")) scenario.analyzer = parseAnalyzer(root.at("analyzer"));
    for (const auto& analyzer : root.value("analyzers", json::array())) {
      scenario.analyzers.push_back(parseAnalyzer(analyzer));
    }
    if (root.contains("bestAudioFormat")) {
      const json& format = root.at("bestAudioFormat");
      scenario.bestAudioFormat = format.is_null() ? std::nullopt : std::optional(parseFormat(format));
    }
    readOptional(root, "preparedAfterMs", scenario.preparedAfterMs);
    read(root, "converterFails", scenario.converterFails);
    read(root, "converterOutputsNothing", scenario.converterOutputsNothing);
    const json files = root.value("files", json::object());
    for (const auto& [name, file] : files.items()) scenario.files[name] = parseFile(file);
    const json streams = root.value("streams", json::object());
    for (const auto& [name, stream] : streams.items()) scenario.streams[name] = parseStream(stream);
    if (root.contains("capture")) scenario.capture = parseCapture(root.at("capture"));
    return scenario;
  } catch (const json::exception& e) {
    throw std::runtime_error(std::string("bad scenario: ") + e.what());
  }
}

}  // namespace tolva::scripted

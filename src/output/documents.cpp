#include "output/documents.hpp"

namespace tolva {
namespace {

template <class T>
void putOptional(JsonObject& object, const char* key, const std::optional<T>& value) {
  if (value) object.emplace(key, *value);
}

JsonObject stringMap(const std::map<std::string, std::string>& map) {
  JsonObject object;
  for (const auto& [key, value] : map) object.emplace(key, value);
  return object;
}

}  // namespace

JsonValue toJson(const ErrorOut& out) {
  JsonObject object{{"error", out.error}, {"message", out.message}};
  putOptional(object, "detail", out.detail);
  return object;
}

JsonValue toJson(const Word& out) {
  return JsonObject{{"word", out.word}, {"start", out.start}, {"end", out.end}, {"confidence", out.confidence}};
}

JsonValue toJson(const Segment& out) {
  JsonObject object{{"start", out.start}, {"end", out.end}, {"text", out.text}};
  if (out.words) {
    JsonArray words;
    for (const Word& word : *out.words) words.push_back(toJson(word));
    object.emplace("words", std::move(words));
  }
  return object;
}

JsonValue toJson(const TranscriptionOut& out) {
  JsonArray segments;
  for (const auto& segment : out.segments) segments.push_back(toJson(segment));
  JsonObject object{
      {"transcript", out.transcript},
      {"segments", std::move(segments)},
      {"processingTimeMs", out.processingTimeMs},
      {"_localeUsed", out.localeUsed},
      {"_localeRequested", out.localeRequested},
      {"_assetStatusBefore", out.assetStatusBefore},
      {"_audioFormat", out.audioFormat},
      {"_alternativesCount", out.alternativesCount},
  };
  putOptional(object, "language", out.language);
  putOptional(object, "confidence", out.confidence);
  putOptional(object, "duration", out.duration);
  putOptional(object, "_realtimeFactor", out.realtimeFactor);
  return object;
}

JsonValue toJson(const ProbeOut& out) {
  JsonObject object{
      {"isAvailable", out.isAvailable},
      {"osVersion", out.osVersion},
      {"cpu", out.cpu},
      {"maximumReservedLocales", out.maximumReservedLocales},
      {"reservedLocales", jsonStrings(out.reservedLocales)},
      {"supportedLocales", jsonStrings(out.supportedLocales)},
      {"installedLocales", jsonStrings(out.installedLocales)},
      {"supportedLocaleCount", out.supportedLocaleCount},
      {"installedLocaleCount", out.installedLocaleCount},
      {"deLocaleResolution", stringMap(out.deLocaleResolution)},
      {"assetStatusForDE", out.assetStatusForDE},
      {"assetStatusForEN", out.assetStatusForEN},
      {"localeStatuses", stringMap(out.localeStatuses)},
      {"localeStatusesComplete", out.localeStatusesComplete},
  };
  putOptional(object, "requestedLocale", out.requestedLocale);
  putOptional(object, "requestedLocaleResolved", out.requestedLocaleResolved);
  putOptional(object, "requestedLocaleStatus", out.requestedLocaleStatus);
  return object;
}

JsonValue toJson(const InstallOut& out) {
  JsonObject object{
      {"locale", out.locale},
      {"statusBefore", out.statusBefore},
      {"statusAfter", out.statusAfter},
      {"reserved", out.reserved},
      {"installRequested", out.installRequested},
      {"elapsedMs", out.elapsedMs},
      {"progressSamples", jsonStrings(out.progressSamples)},
      {"reservedCount", out.reservedCount},
      {"maximumReservedLocales", out.maximumReservedLocales},
  };
  putOptional(object, "resolvedLocale", out.resolvedLocale);
  return object;
}

JsonValue toJson(const ReleaseOut& out) {
  return JsonObject{
      {"locale", out.locale},
      {"resolvedLocale", out.resolvedLocale},
      {"released", out.released},
      {"statusBefore", out.statusBefore},
      {"statusAfter", out.statusAfter},
      {"reservedBefore", jsonStrings(out.reservedBefore)},
      {"reservedAfter", jsonStrings(out.reservedAfter)},
      {"maximumReservedLocales", out.maximumReservedLocales},
      {"elapsedMs", out.elapsedMs},
  };
}

// {"sources":[{"channels":1,"default":true,"description":"…","monitor":false,
//   "name":"alsa_input.usb-mic","rate":48000}, …]}
JsonValue toJson(const CaptureSourceOut& out) {
  return JsonObject{{"name", out.name},         {"description", out.description}, {"rate", out.rate},
                    {"channels", out.channels}, {"default", out.isDefault},       {"monitor", out.monitor}};
}

JsonValue toJson(const DevicesOut& out) {
  JsonArray sources;
  for (const auto& source : out.sources) sources.push_back(toJson(source));
  return JsonObject{{"sources", std::move(sources)}};
}

}  // namespace tolva

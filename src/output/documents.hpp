#pragma once
// The result documents of the one-shot subcommands and the error document.
// Each record turns into a JsonValue whose keys are the field names; optional
// members are left out when absent, never written as null. The writer sorts
// the keys, so the declaration order here is the records' own, not the
// written one.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "output/json_value.hpp"

namespace tolva {

struct ErrorOut {
  std::string error;
  std::string message;
  std::optional<std::string> detail;
};

// One word of a segment, written only when words were asked for:
//   {"confidence" : 0.93, "end" : 1.41, "start" : 1.02, "word" : "hello"}
struct Word {
  std::string word;
  double start = 0;
  double end = 0;
  double confidence = 0;

  bool operator==(const Word&) const = default;
};

struct Segment {
  double start = 0;
  double end = 0;
  std::string text;
  std::optional<std::vector<Word>> words;  // absent unless asked for
};

struct TranscriptionOut {
  std::string transcript;
  std::optional<std::string> language;
  std::optional<double> confidence;
  std::optional<double> duration;
  std::vector<Segment> segments;
  double processingTimeMs = 0;
  std::string localeUsed;
  std::string localeRequested;
  std::string assetStatusBefore;
  std::string audioFormat;
  std::optional<double> realtimeFactor;
  std::int64_t alternativesCount = 0;
};

struct ProbeOut {
  bool isAvailable = false;
  std::string osVersion;
  std::string cpu;
  std::int64_t maximumReservedLocales = 0;
  std::vector<std::string> reservedLocales;
  std::vector<std::string> supportedLocales;
  std::vector<std::string> installedLocales;
  std::int64_t supportedLocaleCount = 0;
  std::int64_t installedLocaleCount = 0;
  std::map<std::string, std::string> deLocaleResolution;
  std::string assetStatusForDE;
  std::string assetStatusForEN;
  std::optional<std::string> requestedLocale;
  std::optional<std::string> requestedLocaleResolved;
  std::optional<std::string> requestedLocaleStatus;
  std::map<std::string, std::string> localeStatuses;
  bool localeStatusesComplete = false;
};

struct InstallOut {
  std::string locale;
  std::optional<std::string> resolvedLocale;
  std::string statusBefore;
  std::string statusAfter;
  bool reserved = false;
  bool installRequested = false;
  double elapsedMs = 0;
  std::vector<std::string> progressSamples;
  std::int64_t reservedCount = 0;
  std::int64_t maximumReservedLocales = 0;
};

// One capture source in the document of `devices`.
struct CaptureSourceOut {
  std::string name;
  std::string description;
  std::int64_t rate = 0;
  std::int64_t channels = 0;
  bool isDefault = false;  // key "default"
  bool monitor = false;
};

struct DevicesOut {
  std::vector<CaptureSourceOut> sources;
};

struct ReleaseOut {
  std::string locale;
  std::string resolvedLocale;
  bool released = true;
  std::string statusBefore;
  std::string statusAfter;
  std::vector<std::string> reservedBefore;
  std::vector<std::string> reservedAfter;
  std::int64_t maximumReservedLocales = 0;
  double elapsedMs = 0;
};

JsonValue toJson(const ErrorOut& out);
JsonValue toJson(const Word& out);
JsonValue toJson(const Segment& out);
JsonValue toJson(const TranscriptionOut& out);
JsonValue toJson(const ProbeOut& out);
JsonValue toJson(const InstallOut& out);
JsonValue toJson(const ReleaseOut& out);
JsonValue toJson(const CaptureSourceOut& out);
JsonValue toJson(const DevicesOut& out);

}  // namespace tolva

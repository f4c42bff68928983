// tolva-eval-decode: the real PocketSphinx engine over many files in one
// process, with settings from the command line, for the evaluation harness.
// Batch mode runs a file analysis as `transcribe` does; dictation mode runs
// the replay feed of `listen` in chunks of --chunk-ms, unpaced (decoding does
// not depend on timing), into a live analysis (live/sources/file_decoding).
//
// usage: tolva-eval-decode --mode batch|dictation [--chunk-ms N] [name=value ...]
//        tolva-eval-decode --print-settings [name=value ...]
// Reads audio paths from standard input, one per line; writes one JSON line
// per file: {"path","text","audioSec","cpuSec"} or {"path","error"}. With
// text=timed, "text" holds each final result's timed words, trimmed, the
// results apart by " | " (bench/eval/write_text.cpp writes them again).

#include <sys/resource.h>
#include <time.h>

#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "live/sources/file_decoding.hpp"
#include "locale/trim.hpp"
#include "platform/ffmpeg/file_audio_system.hpp"
#include "platform/platform_error.hpp"
#include "platform/sphinx/decoder/decoder_cache.hpp"
#include "platform/sphinx/sphinx_engine.hpp"
#include "platform/store/model_store.hpp"
#include "settings_arguments.hpp"

namespace {

struct Arguments {
  std::string mode = "batch";
  std::int64_t chunkMs = 100;
  bool printSettings = false;
  std::vector<std::string> settingWords;
};

Arguments parseArguments(int argc, char** argv) {
  Arguments arguments;
  for (int i = 1; i < argc; ++i) {
    std::string word = argv[i];
    if (word == "--mode" && i + 1 < argc) {
      arguments.mode = argv[++i];
    } else if (word == "--chunk-ms" && i + 1 < argc) {
      arguments.chunkMs = std::stoll(argv[++i]);
    } else if (word == "--print-settings") {
      arguments.printSettings = true;
    } else {
      arguments.settingWords.push_back(word);
    }
  }
  if (arguments.mode != "batch" && arguments.mode != "dictation") throw std::invalid_argument("unknown mode");
  if (arguments.chunkMs < 1) throw std::invalid_argument("--chunk-ms must be at least 1");
  return arguments;
}

double seconds(const timeval& time) { return static_cast<double>(time.tv_sec) + time.tv_usec / 1e6; }

// This process's CPU time and that of its reaped children: a file analysis
// decodes on processes forked from this one, and reaps them when it ends.
double processCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  rusage children{};
  getrusage(RUSAGE_CHILDREN, &children);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9 + seconds(children.ru_utime) + seconds(children.ru_stime);
}

// The results apart, for the written text made again from their words.
std::string timedText(const tolva::DecodedFile& decoded) {
  std::string text;
  for (const std::string& result : decoded.results) {
    std::string_view words = tolva::trimWhitespaceAndNewlines(result);
    if (words.empty()) continue;
    if (!text.empty()) text += " | ";
    text += words;
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments arguments;
  tolva::sphinx::SphinxSettings settings;
  try {
    arguments = parseArguments(argc, argv);
    tolva::bench::applySettingWords(arguments.settingWords, settings);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tolva-eval-decode: %s\n", error.what());
    return 2;
  }
  if (arguments.printSettings) {
    for (const std::string& word : tolva::bench::settingWords(settings)) std::printf("%s\n", word.c_str());
    return 0;
  }
  auto cache = std::make_shared<tolva::sphinx::DecoderCache>(settings);
  // The evaluation reads installed models only: it never downloads one.
  auto noDownloads = []() -> const tolva::store::ArchiveTools& {
    throw tolva::PlatformError("tolva-eval-decode downloads no models");
  };
  auto noInstalls = [](const tolva::store::ModelFiles&) {
    throw tolva::PlatformError("tolva-eval-decode installs no models");
  };
  auto engine = tolva::sphinx::makeSphinxEngine(tolva::store::makeModelStore(noDownloads, noInstalls), cache);
  bool timed = settings.text.style == tolva::sphinx::TextStyle::timedWords;
  std::unique_ptr<tolva::AudioSystem> audio = tolva::ffmpeg::makeFileAudioSystem();
  const tolva::Locale english("en_US");
  auto decode = [&](const std::string& path) {
    return arguments.mode == "dictation" ? tolva::decodeAsReplay(*engine, *audio, path, arguments.chunkMs, english)
                                         : tolva::decodeAsTranscribe(*engine, *audio, path, english);
  };
  for (std::string path; std::getline(std::cin, path);) {
    if (path.empty()) continue;
    nlohmann::json line{{"path", path}};
    try {
      double cpuBefore = processCpuSeconds();
      tolva::DecodedFile decoded = decode(path);
      line["text"] = timed ? timedText(decoded) : decoded.text;
      line["audioSec"] = decoded.audioSeconds;
      line["cpuSec"] = processCpuSeconds() - cpuBefore;
    } catch (const std::exception& error) {
      line["error"] = error.what();
    }
    std::cout << line.dump() << std::endl;
  }
  return 0;
}

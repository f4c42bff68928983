#include "platform/sphinx/decoder/decoder.hpp"

#include <pocketsphinx.h>
#include <sphinxbase/cmn.h>
#include <sphinxbase/logmath.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "platform/platform_error.hpp"
#include "platform/sphinx/decoder/sphinx_library.hpp"
#include "platform/sphinx/decoder/sphinx_options.hpp"

namespace tolva::sphinx {

struct Decoder::Native {
  ps_decoder_t* decoder = nullptr;
  cmd_ln_t* config = nullptr;
  cmn_t* cepstralMean = nullptr;  // owned by the decoder
  std::vector<mfcc_t> initialMean;
  CepstralMeanSettings meanSettings;

  ~Native() {
    auto library = enterLibrary();
    if (decoder) ps_free(decoder);
    if (config) cmd_ln_free_r(config);
  }
};

namespace {

// Beyond this many n-best hypotheses the search costs more than the count is worth.
constexpr int maxHypothesesExamined = 20;

void requireFile(const std::string& path, const char* what) {
  std::error_code error;
  if (path.empty() || !std::filesystem::exists(path, error)) {
    throw PlatformError(std::string("the speech model is incomplete: its ") + what + " is missing (" + path + ")");
  }
}

cmd_ln_t* makeConfig(const store::ModelFiles& files, DecoderKind kind, const DecoderSettings& settings) {
  auto yesNo = [](bool value) { return std::string(value ? "yes" : "no"); };
  SphinxOptions options{{"-hmm", files.acousticModel},
                        {"-lm", files.languageModel},
                        {"-dict", files.dictionary},
                        {"-remove_silence", yesNo(kind == DecoderKind::streaming)},
                        {"-fwdflat", yesNo(settings.fwdflat)},
                        {"-bestpath", yesNo(settings.bestpath)},
                        {"-beam", optionNumber(settings.beam)},
                        {"-wbeam", optionNumber(settings.wbeam)},
                        {"-pbeam", optionNumber(settings.pbeam)},
                        {"-lw", optionNumber(settings.lw)},
                        {"-wip", optionNumber(settings.wip)},
                        {"-maxhmmpf", std::to_string(settings.maxhmmpf)},
                        {"-logfn", "/dev/null"}};
  for (auto& option : voiceOptions(settings.voice)) options.push_back(std::move(option));
  return parseOptions(options);
}

void check(int status, const char* what) {
  if (status < 0) throw PlatformError(std::string("the speech decoder failed to ") + what);
}

}  // namespace

std::unique_ptr<Decoder> Decoder::load(const store::ModelFiles& files, DecoderKind kind,
                                       const DecoderSettings& settings) {
  requireFile(files.acousticModel, "acoustic model");
  requireFile(files.languageModel, "language model");
  requireFile(files.dictionary, "dictionary");
  auto native = std::make_unique<Native>();
  {
    auto library = enterLibrary();
    native->config = makeConfig(files, kind, settings);
    if (native->config) native->decoder = ps_init(native->config);
  }
  if (!native->decoder) {
    throw PlatformError("PocketSphinx could not load the speech model in " + files.acousticModel + " (language model " +
                        files.languageModel + ", dictionary " + files.dictionary + ")");
  }
  feat_t* features = ps_get_feat(native->decoder);
  native->cepstralMean = features ? features->cmn_struct : nullptr;
  native->meanSettings = settings.mean;
  if (native->cepstralMean) {
    native->initialMean.resize(native->cepstralMean->veclen);
    cmn_live_get(native->cepstralMean, native->initialMean.data());
  }
  return std::unique_ptr<Decoder>(new Decoder(std::move(native), kind));
}

Decoder::Decoder(std::unique_ptr<Native> native, DecoderKind kind) : native_(std::move(native)), kind_(kind) {}

Decoder::~Decoder() = default;

void Decoder::beginAnalysis() {
  if (inUtterance_) {
    inUtterance_ = false;
    ps_end_utt(native_->decoder);
  }
  check(ps_start_stream(native_->decoder), "start a stream");
  resetCepstralMean();
}

void Decoder::resetCepstralMean() {
  cmn_t* mean = native_->cepstralMean;
  if (!mean) return;
  cmn_live_set(mean, native_->initialMean.data());
  // The running sum holds the model's mean as that many frames of audio.
  int prior = native_->meanSettings.priorFrames;
  for (int i = 0; i < mean->veclen; ++i) mean->sum[i] = native_->initialMean[i] * prior;
  mean->nframe = prior;
}

void Decoder::refreshCepstralMean() {
  if (native_->cepstralMean && native_->meanSettings.refreshEachPiece) cmn_live_update(native_->cepstralMean);
}

void Decoder::startUtterance() {
  check(ps_start_utt(native_->decoder), "start an utterance");
  inUtterance_ = true;
}

void Decoder::process(std::span<const std::int16_t> samples, bool wholeUtterance) {
  if (samples.empty()) return;
  int status = ps_process_raw(native_->decoder, samples.data(), samples.size(), FALSE, wholeUtterance ? TRUE : FALSE);
  check(status, "decode its audio");
}

void Decoder::endUtterance() {
  if (!inUtterance_) return;
  inUtterance_ = false;
  check(ps_end_utt(native_->decoder), "end an utterance");
}

bool Decoder::inSpeech() { return ps_get_in_speech(native_->decoder) != 0; }

std::vector<TimedWord> Decoder::words() {
  std::vector<TimedWord> words;
  // The best-path pass that picks the words also computes the lattice's
  // posteriors, so reading them costs one lookup a word.
  logmath_t* logMath = ps_get_logmath(native_->decoder);
  for (ps_seg_t* segment = ps_seg_iter(native_->decoder); segment; segment = ps_seg_next(segment)) {
    const char* word = ps_seg_word(segment);
    if (!word || isFillerWord(word)) continue;
    int start = 0;
    int end = 0;
    ps_seg_frames(segment, &start, &end);
    std::int32_t acoustic = 0;
    std::int32_t language = 0;
    std::int32_t backoff = 0;
    double posterior = logmath_exp(logMath, ps_seg_prob(segment, &acoustic, &language, &backoff));
    // Alternate pronunciations are summed in, which can overshoot a little.
    words.push_back({std::string(baseWord(word)), start, end + 1, std::clamp(posterior, 0.0, 1.0)});
  }
  return words;
}

std::int64_t Decoder::alternativesCount(const std::vector<TimedWord>& bestWords, std::int64_t cap) {
  std::set<std::string> texts;
  std::string best = resultText(bestWords);
  if (!best.empty()) texts.insert(best.substr(1));
  ps_nbest_t* nbest = ps_nbest(native_->decoder);
  for (int examined = 0; nbest && examined < maxHypothesesExamined; ++examined) {
    if (static_cast<std::int64_t>(texts.size()) >= cap) break;
    std::int32_t score = 0;
    const char* hypothesis = ps_nbest_hyp(nbest, &score);
    if (hypothesis) {
      std::string text = readableText(hypothesis);
      if (!text.empty()) texts.insert(text);
    }
    nbest = ps_nbest_next(nbest);
  }
  if (nbest) ps_nbest_free(nbest);
  return std::min<std::int64_t>(static_cast<std::int64_t>(texts.size()), cap);
}

}  // namespace tolva::sphinx

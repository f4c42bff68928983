#include "platform/sphinx/analysis/voice_activity.hpp"

#include <pocketsphinx.h>
#include <sphinxbase/ckd_alloc.h>

#include <filesystem>

#include "platform/platform_error.hpp"
#include "platform/sphinx/decoder/sphinx_library.hpp"
#include "platform/sphinx/decoder/sphinx_options.hpp"

namespace tolva::sphinx {
namespace {

// Room for the frames the detector holds back before speech starts, and more.
constexpr int cepstraCapacity = 256;

}  // namespace

struct VoiceActivity::Native {
  cmd_ln_t* config = nullptr;
  fe_t* frontEnd = nullptr;
  mfcc_t** cepstra = nullptr;

  ~Native() {
    auto library = enterLibrary();
    if (cepstra) ckd_free_2d(cepstra);
    if (frontEnd) fe_free(frontEnd);
    if (config) cmd_ln_free_r(config);
  }
};

VoiceActivity::VoiceActivity(const store::ModelFiles& files, const VoiceActivitySettings& settings)
    : native_(std::make_unique<Native>()), silenceFramesToEnd_(settings.silenceFramesToEnd) {
  auto library = enterLibrary();
  SphinxOptions options{{"-remove_silence", "yes"}, {"-logfn", "/dev/null"}};
  for (auto& option : voiceOptions(settings)) options.push_back(std::move(option));
  native_->config = parseOptions(options);
  std::string parameters = files.acousticModel + "/feat.params";
  std::error_code error;
  if (native_->config && std::filesystem::exists(parameters, error)) {
    // On failure the defaults stay; they detect speech nearly as well.
    if (cmd_ln_t* parsed = cmd_ln_parse_file_r(native_->config, ps_args(), parameters.c_str(), FALSE)) {
      native_->config = parsed;
    }
  }
  if (native_->config) native_->frontEnd = fe_init_auto_r(native_->config);
  if (!native_->frontEnd) throw PlatformError("PocketSphinx could not set up voice activity detection");
  native_->cepstra =
      static_cast<mfcc_t**>(ckd_calloc_2d(cepstraCapacity, fe_get_output_size(native_->frontEnd), sizeof(mfcc_t)));
  fe_start_stream(native_->frontEnd);
  fe_start_utt(native_->frontEnd);
}

VoiceActivity::~VoiceActivity() = default;

bool VoiceActivity::feedFrame(std::span<const std::int16_t> frame) {
  const std::int16_t* samples = frame.data();
  std::size_t remaining = frame.size();
  while (remaining > 0) {
    std::size_t before = remaining;
    std::int32_t frames = cepstraCapacity;
    std::int32_t firstFrame = 0;
    if (fe_process_frames(native_->frontEnd, &samples, &remaining, native_->cepstra, &frames, &firstFrame) < 0) {
      throw PlatformError("PocketSphinx voice activity detection failed");
    }
    if (remaining == before && frames == 0) break;  // nothing more it will take
  }
  return fe_get_vad_state(native_->frontEnd) != 0;
}

}  // namespace tolva::sphinx

#include "platform/sphinx/decoder/decoder_settings.hpp"

#include <cmath>

namespace tolva::sphinx {
namespace {

bool isBeam(double beam) { return std::isfinite(beam) && beam > 0 && beam <= 1; }

std::optional<std::string> validateVoice(const VoiceActivitySettings& voice, const std::string& name) {
  if (!std::isfinite(voice.threshold) || voice.threshold < 0) return name + ": the voice threshold must be 0 or more";
  // The detector holds back the frames before speech; it has room for 256.
  if (voice.speechFramesToStart < 1 || voice.speechFramesToStart > 100 || voice.framesBeforeSpeech < 0 ||
      voice.framesBeforeSpeech > 100) {
    return name + ": frames to start speech must be 1 to 100, frames kept before it 0 to 100";
  }
  if (voice.silenceFramesToEnd < 2 || voice.silenceFramesToEnd > 1000) {
    return name + ": silent frames to end speech must be 2 to 1000";
  }
  return std::nullopt;
}

std::optional<std::string> validateDecoder(const DecoderSettings& decoder, const std::string& name) {
  if (!isBeam(decoder.beam) || !isBeam(decoder.wbeam) || !isBeam(decoder.pbeam)) {
    return name + ": beams must be above 0 and at most 1";
  }
  if (!std::isfinite(decoder.lw) || decoder.lw <= 0) return name + ": the language weight must be above 0";
  if (!std::isfinite(decoder.wip) || decoder.wip <= 0) return name + ": the word insertion penalty must be above 0";
  if (decoder.maxhmmpf != -1 && decoder.maxhmmpf < 100) return name + ": the HMM cap must be -1 or at least 100";
  if (decoder.mean.priorFrames < 1 || decoder.mean.priorFrames > 10000) {
    return name + ": the weight of the model's cepstral mean must be 1 to 10000 frames";
  }
  return validateVoice(decoder.voice, name);
}

}  // namespace

std::optional<std::string> SphinxSettings::validate() const {
  if (auto error = validateDecoder(wholeUtterance, "whole-utterance decoder")) return error;
  if (auto error = validateDecoder(streaming, "streaming decoder")) return error;
  if (splitter.leadFrames < 1 || splitter.maxFrames < 4 * splitter.leadFrames) {
    return std::string("splitter: lead frames must be at least 1 and the longest utterance 4 times that");
  }
  double pause = text.written.sentencePauseSeconds;
  if (!std::isfinite(pause) || pause < 0) return std::string("text: the sentence pause must be 0 or more seconds");
  return std::nullopt;
}

}  // namespace tolva::sphinx

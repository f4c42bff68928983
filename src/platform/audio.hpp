#pragma once
// The audio seam: file decoding, sample-rate conversion and microphone capture.
// Every operation blocks until done; failures throw PlatformError carrying the
// platform's description.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tolva {

// The sample format a format describes, by the codes parent applications see:
// 0 other, 1 32-bit float, 2 64-bit float, 3 16-bit integer, 4 32-bit integer.
enum class CommonFormat : int { other = 0, float32 = 1, float64 = 2, int16 = 3, int32 = 4 };

struct AudioFormat {
  double sampleRate = 0;
  std::uint32_t channelCount = 0;
  CommonFormat commonFormat = CommonFormat::float32;

  bool operator==(const AudioFormat&) const = default;
};

// More channels than any real device or file has; audio claiming more is refused.
inline constexpr std::uint32_t maxChannelCount = 64;

// "<integer sample rate>Hz ch=<channels>", the rate truncated toward zero.
std::string formatDescription(const AudioFormat& format);

// PCM audio in a format. Samples are held as deinterleaved 32-bit floats, one
// vector of frameCapacity samples per channel; frameLength frames are valid.
struct PcmBuffer {
  AudioFormat format;
  std::uint32_t frameCapacity = 0;
  std::uint32_t frameLength = 0;
  std::vector<std::vector<float>> channels;

  // A zeroed buffer, or nothing when the format has no channels or the
  // allocation would be unreasonable.
  static std::optional<PcmBuffer> make(const AudioFormat& format, std::uint32_t capacity);

  double durationMs() const { return format.sampleRate > 0 ? frameLength / format.sampleRate * 1000 : 0; }
};

// An open audio file.
// Thread contract: one thread at a time.
class AudioFile {
 public:
  virtual ~AudioFile() = default;
  // The format buffers are read in: deinterleaved float at the file's rate.
  virtual AudioFormat processingFormat() const = 0;
  // Length in frames.
  virtual std::int64_t length() const = 0;
  // Reads up to `frameCount` frames (at most the buffer's capacity) into
  // `buffer`, setting its frameLength; 0 at the end of the file. Throws on a
  // decoding error.
  virtual void read(PcmBuffer& buffer, std::uint32_t frameCount) = 0;
};

// What a converter's input block answers: data supplied, no data now, or the
// end of the stream (which flushes the converter).
enum class ConverterInputStatus : int { haveData = 0, noDataNow = 1, endOfStream = 2 };

// Called by the converter whenever it wants input: sets `status` and returns
// the buffer handed over (with haveData) or nullptr.
using ConverterInputBlock = std::function<const PcmBuffer*(ConverterInputStatus& status)>;

// A stateful sample-rate and format converter between two formats.
// Thread contract: one thread at a time; state carries across convert calls.
class AudioConverter {
 public:
  virtual ~AudioConverter() = default;
  // Fills `output` (up to its capacity, setting frameLength) from what the
  // input block hands over. Throws on a conversion error.
  virtual void convert(PcmBuffer& output, const ConverterInputBlock& input) = 0;
};

// One capture source of the sound server.
struct CaptureSource {
  std::string name;         // as `pactl list short sources` prints it
  std::string description;  // the server's human-readable name
  AudioFormat format;       // float32 at the source's own rate and channels
  bool monitor = false;     // records what an output plays, not a microphone
  bool isDefault = false;   // what a capture without a named source records from
};

// The sample layout of a stream that carries raw PCM, without a container.
enum class RawSampleFormat { s16le, f32le };

// The layouts raw PCM may have, whether a client names it or a WAV header does.
inline constexpr std::int64_t maxRawRate = 768000;
inline constexpr std::int64_t maxRawChannels = maxChannelCount;

struct RawPcmFormat {
  RawSampleFormat sampleFormat = RawSampleFormat::s16le;
  std::int64_t rate = 0;
  std::int64_t channels = 0;

  bool operator==(const RawPcmFormat&) const = default;
};

// Audio read as it arrives from a FIFO or any readable file, in a container
// FFmpeg can demux, or as raw PCM when `raw` says how it is laid out.
struct AudioStreamRequest {
  std::string path;
  std::optional<RawPcmFormat> raw;

  bool operator==(const AudioStreamRequest&) const = default;
};

// An open audio stream.
// Thread contract: open and read from one thread at a time; cancel from any
// thread, at any time, and more than once.
class AudioStream {
 public:
  virtual ~AudioStream() = default;
  // Blocks until the stream's header has been read and returns the format
  // buffers are read in (deinterleaved float at the stream's own rate and
  // channels). Nothing when the stream ended, or was cancelled, before any
  // audio. Throws when the bytes are not audio that can be decoded.
  virtual std::optional<AudioFormat> open() = 0;
  // Blocks until decoded audio is at hand and reads up to the buffer's
  // capacity of it, setting frameLength; 0 at the end of the stream or after
  // cancel. Throws on a read or decoding error.
  virtual void read(PcmBuffer& buffer) = 0;
  // Ends a blocked open or read at once; later calls find the stream ended.
  virtual void cancel() = 0;
};

// Microphone capture from an input device.
// Thread contract: the control calls (installTap ... removeConfigurationObserver)
// come from one thread at a time. The tap block runs on the engine's capture
// thread; configuration-change callbacks on whatever thread posts them. Both
// may still run while removeTap/removeConfigurationObserver is in progress,
// never after it returned.
class CaptureEngine {
 public:
  using TapBlock = std::function<void(const PcmBuffer& buffer)>;
  using ConfigurationObserver = std::function<void()>;

  virtual ~CaptureEngine() = default;
  // The input node's output format on bus 0. Throws when no input device can
  // be reached.
  virtual AudioFormat inputFormat() = 0;
  virtual void installTap(std::uint32_t bufferFrames, const AudioFormat& format, TapBlock tap) = 0;
  virtual void removeTap() = 0;
  virtual void prepare() = 0;
  // Throws the engine's error when it cannot start.
  virtual void start() = 0;
  virtual void stop() = 0;
  // False after stop and after a configuration change stopped the graph.
  virtual bool isRunning() = 0;
  // Registers a callback for configuration changes of this engine (device
  // lost or changed); returns a token for removal.
  virtual int addConfigurationObserver(ConfigurationObserver observer) = 0;
  virtual void removeConfigurationObserver(int token) = 0;
};

class AudioSystem {
 public:
  virtual ~AudioSystem() = default;
  // Opens a file for reading; throws when the container or codec cannot be decoded.
  virtual std::unique_ptr<AudioFile> openFile(const std::string& path) = 0;
  // A converter between the two formats, or nullptr when none can be built.
  virtual std::unique_ptr<AudioConverter> makeConverter(const AudioFormat& from, const AudioFormat& to) = 0;
  // A capture engine recording from the source named `device`, or, when it
  // is empty, from the one the sound server's own settings pick; nothing is
  // opened until it is used. An unknown source fails inputFormat and start.
  virtual std::unique_ptr<CaptureEngine> makeCaptureEngine(const std::string& device) = 0;
  // The capture sources, sorted by name. Throws when the sound server cannot
  // be reached.
  virtual std::vector<CaptureSource> captureSources() = 0;
  // Opens a stream for reading without waiting for a writer; throws when the
  // path cannot be opened or is not a file or FIFO.
  virtual std::unique_ptr<AudioStream> openStream(const AudioStreamRequest& request) = 0;
};

}  // namespace tolva

#include "platform/pulse/record_stream.hpp"

#include "platform/platform_error.hpp"
#include "platform/pulse/sound_server.hpp"

namespace tolva::pulse {

RecordStream::RecordStream(MainLoop& loop, pa_context* context, const std::string& source, const AudioFormat& format,
                           std::uint32_t fragmentFrames, Callbacks callbacks)
    : loop_(loop), callbacks_(std::move(callbacks)) {
  pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(format.sampleRate),
                      static_cast<std::uint8_t>(format.channelCount)};
  if (format.channelCount > PA_CHANNELS_MAX || !pa_sample_spec_valid(&spec)) {
    throw PlatformError("unsupported capture format " + formatDescription(format));
  }
  try {
    connect(context, source, spec, fragmentFrames);
  } catch (...) {
    release();
    throw;
  }
}

RecordStream::~RecordStream() { release(); }

void RecordStream::connect(pa_context* context, const std::string& source, const pa_sample_spec& spec,
                           std::uint32_t fragmentFrames) {
  stream_ = pa_stream_new(context, "tolva-speech capture", &spec, nullptr);
  if (!stream_) throw PlatformError("cannot create a record stream: " + contextError(context));
  pa_stream_set_state_callback(stream_, onState, this);
  pa_stream_set_read_callback(stream_, onRead, this);
  pa_buffer_attr attributes{};
  attributes.maxlength = static_cast<std::uint32_t>(-1);
  attributes.tlength = attributes.prebuf = attributes.minreq = static_cast<std::uint32_t>(-1);
  attributes.fragsize = static_cast<std::uint32_t>(fragmentFrames * pa_frame_size(&spec));
  auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_DONT_MOVE | PA_STREAM_ADJUST_LATENCY);
  if (pa_stream_connect_record(stream_, source.c_str(), &attributes, flags) < 0) {
    throw PlatformError("cannot record from '" + source + "': " + contextError(context));
  }
  auto state = [&] { return pa_stream_get_state(stream_); };
  bool settled =
      loop_.waitFor(context, serverTimeout, [&] { return state() == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state()); });
  if (state() != PA_STREAM_READY) {
    throw PlatformError("cannot record from '" + source +
                        "': " + (settled ? contextError(context) : std::string("the sound server did not answer")));
  }
  ready_ = true;
}

void RecordStream::release() {
  *alive_ = false;
  if (!stream_) return;
  pa_stream_set_state_callback(stream_, nullptr, nullptr);
  pa_stream_set_read_callback(stream_, nullptr, nullptr);
  if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) pa_stream_disconnect(stream_);
  pa_stream_unref(stream_);
  stream_ = nullptr;
}

void RecordStream::onState(pa_stream* stream, void* userdata) {
  auto* self = static_cast<RecordStream*>(userdata);
  self->loop_.signal();
  if (!self->ready_ || PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) return;
  // The handler may destroy this object: call a copy and touch nothing after.
  auto ended = self->callbacks_.ended;
  if (ended) ended();
}

// Peeks and drops until the buffer is empty. A hole (no data, a size) holds
// nothing to deliver and is only dropped.
void RecordStream::onRead(pa_stream* stream, std::size_t, void* userdata) {
  auto* self = static_cast<RecordStream*>(userdata);
  std::shared_ptr<bool> alive = self->alive_;
  auto deliver = self->callbacks_.data;
  pa_stream_ref(stream);
  while (*alive) {
    const void* bytes = nullptr;
    std::size_t size = 0;
    if (pa_stream_peek(stream, &bytes, &size) < 0 || size == 0) break;
    if (bytes && deliver) deliver(bytes, size);
    if (!*alive) break;  // the delivery stopped the capture
    pa_stream_drop(stream);
  }
  pa_stream_unref(stream);
}

}  // namespace tolva::pulse

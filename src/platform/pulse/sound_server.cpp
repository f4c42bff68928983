#include "platform/pulse/sound_server.hpp"

#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/subscribe.h>

#include "platform/platform_error.hpp"

namespace tolva::pulse {
namespace {

// Where a request's callback leaves its answer.
template <class Value>
struct Answer {
  MainLoop* loop;
  bool done = false;
  bool ok = false;
  Value value{};
};

// Waits for an operation's callback and throws unless it answered with
// success. On timeout the operation is cancelled, so its callback, which
// points at the caller's stack, can never run later.
template <class Value>
void await(MainLoop& loop, pa_context* context, pa_operation* operation, Answer<Value>& answer,
           const std::string& request) {
  if (!operation) throw PlatformError(request + ": " + contextError(context));
  bool answered = loop.waitFor(context, serverTimeout, [&] { return answer.done; });
  if (!answered) pa_operation_cancel(operation);
  pa_operation_unref(operation);
  if (!answered) throw PlatformError(request + ": the sound server did not answer");
  if (!answer.ok) throw PlatformError(request + ": " + contextError(context));
}

void onServerInfo(pa_context*, const pa_server_info* info, void* userdata) {
  auto* answer = static_cast<Answer<std::string>*>(userdata);
  answer->ok = info != nullptr;
  if (info && info->default_source_name) answer->value = info->default_source_name;
  answer->done = true;
  answer->loop->signal();
}

SourceInfo sourceInfoOf(const pa_source_info& info) {
  SourceInfo source;
  source.name = info.name ? info.name : "";
  source.index = info.index;
  source.format = AudioFormat{static_cast<double>(info.sample_spec.rate), info.sample_spec.channels,
                              CommonFormat::float32};
  source.description = info.description ? info.description : "";
  source.monitor = info.monitor_of_sink != PA_INVALID_INDEX;
  return source;
}

void onSourceInfo(pa_context*, const pa_source_info* info, int eol, void* userdata) {
  auto* answer = static_cast<Answer<SourceInfo>*>(userdata);
  if (info) {
    answer->ok = true;
    answer->value = sourceInfoOf(*info);
  }
  if (eol != 0) {
    answer->done = true;
    answer->loop->signal();
  }
}

// A list ends with eol 1; eol -1 is a failed request.
void onSourceListEntry(pa_context*, const pa_source_info* info, int eol, void* userdata) {
  auto* answer = static_cast<Answer<std::vector<SourceInfo>>*>(userdata);
  if (info) answer->value.push_back(sourceInfoOf(*info));
  if (eol != 0) {
    answer->ok = eol > 0;
    answer->done = true;
    answer->loop->signal();
  }
}

void onSuccess(pa_context*, int success, void* userdata) {
  auto* answer = static_cast<Answer<bool>*>(userdata);
  answer->ok = success != 0;
  answer->done = true;
  answer->loop->signal();
}

}  // namespace

std::string contextError(pa_context* context) { return pa_strerror(pa_context_errno(context)); }

pa_context* connectContext(MainLoop& loop, pa_context_notify_cb_t onState, void* userdata) {
  pa_context* context = pa_context_new(loop.api(), "tolva-speech");
  if (!context) throw PlatformError("cannot connect to the sound server: cannot create a context");
  pa_context_set_state_callback(context, onState, userdata);
  if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    PlatformError error("cannot connect to the sound server: " + contextError(context));
    releaseContext(context);
    throw error;
  }
  auto state = [&] { return pa_context_get_state(context); };
  bool settled =
      loop.waitFor(context, serverTimeout, [&] { return !PA_CONTEXT_IS_GOOD(state()) || state() == PA_CONTEXT_READY; });
  if (state() != PA_CONTEXT_READY) {
    PlatformError error("cannot connect to the sound server: " +
                        (settled ? contextError(context) : std::string("timed out")));
    releaseContext(context);
    throw error;
  }
  return context;
}

void releaseContext(pa_context*& context) {
  if (!context) return;
  pa_context_set_state_callback(context, nullptr, nullptr);
  pa_context_set_subscribe_callback(context, nullptr, nullptr);
  pa_context_disconnect(context);
  pa_context_unref(context);
  context = nullptr;
}

std::string defaultSourceName(MainLoop& loop, pa_context* context) {
  Answer<std::string> server{&loop};
  await(loop, context, pa_context_get_server_info(context, onServerInfo, &server), server,
        "cannot query the sound server");
  return server.value;
}

SourceInfo defaultSource(MainLoop& loop, pa_context* context) {
  std::string name = defaultSourceName(loop, context);
  if (name.empty()) throw PlatformError("the sound server has no default input source");
  Answer<SourceInfo> source{&loop};
  pa_operation* request = pa_context_get_source_info_by_name(context, name.c_str(), onSourceInfo, &source);
  await(loop, context, request, source, "cannot query the default input source '" + name + "'");
  return source.value;
}

std::optional<SourceInfo> sourceNamed(MainLoop& loop, pa_context* context, const std::string& name) {
  Answer<SourceInfo> source{&loop};
  pa_operation* request = pa_context_get_source_info_by_name(context, name.c_str(), onSourceInfo, &source);
  try {
    await(loop, context, request, source, "cannot query the input source '" + name + "'");
  } catch (const PlatformError&) {
    if (pa_context_errno(context) == PA_ERR_NOENTITY) return std::nullopt;
    throw;
  }
  return source.value;
}

std::vector<SourceInfo> allSources(MainLoop& loop, pa_context* context) {
  Answer<std::vector<SourceInfo>> sources{&loop};
  await(loop, context, pa_context_get_source_info_list(context, onSourceListEntry, &sources), sources,
        "cannot list the input sources");
  return sources.value;
}

void subscribeToDeviceEvents(MainLoop& loop, pa_context* context) {
  Answer<bool> answer{&loop};
  auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SOURCE);
  await(loop, context, pa_context_subscribe(context, mask, onSuccess, &answer), answer,
        "cannot subscribe to sound server events");
}

}  // namespace tolva::pulse

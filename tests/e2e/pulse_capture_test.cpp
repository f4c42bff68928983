// The PulseAudio capture engine against a private daemon whose microphone is
// a FIFO the test writes PCM into.

#include "platform/pulse/pulse_capture.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "concurrency/notification.hpp"
#include "concurrency/task.hpp"
#include "platform/platform_error.hpp"
#include "platform/pulse/tap_reblocker.hpp"
#include "support/pulse_daemon.hpp"

namespace tolva {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t tapFrames = 4096;

// A recognisable waveform: a sine at -6 dB with a slow ramp on top.
std::vector<std::int16_t> speech(std::size_t frames) {
  std::vector<std::int16_t> samples(frames);
  for (std::size_t i = 0; i < frames; ++i) {
    samples[i] = static_cast<std::int16_t>(16000 * std::sin(i * 0.05) + (i % 2000));
  }
  return samples;
}

// Runs `step` on its own thread; a step that does not return in time has
// deadlocked, and the process cannot go on safely.
void mustReturnWithin(std::chrono::seconds limit, const char* what, std::function<void()> step) {
  Task task([step = std::move(step)](std::stop_token) { step(); });
  if (!task.waitFor(limit)) {
    std::cerr << what << " did not return within " << limit.count() << " s: deadlock\n";
    std::_Exit(1);
  }
}

// Copies of the tap buffers, for the test thread to wait on.
class TapRecorder {
 public:
  CaptureEngine::TapBlock tap() {
    return [this](const PcmBuffer& buffer) {
      {
        std::lock_guard lock(mutex_);
        buffers_.push_back(buffer);
      }
      changed_.notify_all();
    };
  }

  // True once `count` buffers arrived within `timeout`.
  bool waitFor(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return buffers_.size() >= count; });
  }

  std::vector<PcmBuffer> buffers() {
    std::lock_guard lock(mutex_);
    return buffers_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<PcmBuffer> buffers_;
};

class PulseCaptureTest : public testing::Test {
 protected:
  void SetUp() override { module = daemon.addMicrophone("fakemic"); }

  // Starts capturing into `recorder` in the input format.
  void startCapture() {
    engine->installTap(tapFrames, engine->inputFormat(), recorder.tap());
    engine->prepare();
    engine->start();
    ASSERT_TRUE(engine->isRunning());
  }

  test::PulseDaemon daemon;
  int module = -1;
  // What the engine's callbacks touch outlives the engine.
  TapRecorder recorder;
  Notification changed;
  std::unique_ptr<CaptureEngine> engine = pulse::makeCaptureEngine();
};

TEST_F(PulseCaptureTest, InputFormatIsTheDefaultSourcesFormat) {
  EXPECT_EQ(engine->inputFormat(), (AudioFormat{16000, 1, CommonFormat::float32}));
  EXPECT_FALSE(engine->isRunning());
  daemon.addMicrophone("stereomic", 48000, 2);
  EXPECT_EQ(pulse::makeCaptureEngine()->inputFormat(), (AudioFormat{48000, 2, CommonFormat::float32}));
}

TEST_F(PulseCaptureTest, WrittenPcmArrivesInOrderWithoutWaitingForAWholeTapBuffer) {
  startCapture();
  // Writes of 1000 samples: the server's blocks do not line up with the taps'.
  auto written = speech(3 * tapFrames + 1000);
  daemon.speak("fakemic", written, 1000);
  auto framesIn = [](const std::vector<PcmBuffer>& buffers) {
    std::size_t frames = 0;
    for (const PcmBuffer& buffer : buffers) frames += buffer.frameLength;
    return frames;
  };
  auto deadline = std::chrono::steady_clock::now() + 10s;
  while (framesIn(recorder.buffers()) < written.size() && std::chrono::steady_clock::now() < deadline) {
    recorder.waitFor(recorder.buffers().size() + 1, 100ms);
  }
  engine->stop();
  EXPECT_FALSE(engine->isRunning());

  // All of it, the last 1000 frames too, though they never fill a tap buffer.
  auto buffers = recorder.buffers();
  ASSERT_EQ(framesIn(buffers), written.size());
  std::size_t at = 0;
  for (const PcmBuffer& buffer : buffers) {
    EXPECT_EQ(buffer.format, (AudioFormat{16000, 1, CommonFormat::float32}));
    ASSERT_GE(buffer.frameLength, 1u);
    ASSERT_LE(buffer.frameLength, tapFrames);
    ASSERT_EQ(buffer.channels.size(), 1u);
    for (std::uint32_t i = 0; i < buffer.frameLength; ++i, ++at) {
      ASSERT_NEAR(buffer.channels[0][i], written[at] / 32768.0, 1e-4) << "frame " << at;
    }
  }
}

TEST_F(PulseCaptureTest, LosingTheDeviceStopsTheEngineAndTellsObservers) {
  startCapture();
  auto runningInside = std::make_shared<std::atomic<bool>>(true);
  engine->addConfigurationObserver([this, runningInside] {
    *runningInside = engine->isRunning();
    changed.notify();
  });
  daemon.removeModule(module);
  EXPECT_TRUE(changed.waitFor(500ms));
  EXPECT_FALSE(*runningInside) << "observers already see the engine stopped";
  EXPECT_FALSE(engine->isRunning());
  engine->stop();
  engine->stop();
  EXPECT_FALSE(engine->isRunning());
}

TEST_F(PulseCaptureTest, ChangingTheDefaultSourceStopsTheEngine) {
  startCapture();
  engine->addConfigurationObserver([this] { changed.notify(); });
  daemon.addMicrophone("othermic");
  EXPECT_TRUE(changed.waitFor(2s));
  EXPECT_FALSE(engine->isRunning());
}

TEST_F(PulseCaptureTest, NoChangeReportAfterStopOrRemoval) {
  startCapture();
  auto removedObserver = std::make_shared<Notification>();
  auto stoppedObserver = std::make_shared<Notification>();
  int token = engine->addConfigurationObserver([removedObserver] { removedObserver->notify(); });
  engine->removeConfigurationObserver(token);
  engine->stop();
  engine->addConfigurationObserver([stoppedObserver] { stoppedObserver->notify(); });
  daemon.removeModule(module);
  // Events come before the answer to a later request on the same connection:
  // once this returns, any report the removal causes has been made.
  engine->inputFormat();
  EXPECT_FALSE(removedObserver->notified());
  EXPECT_FALSE(stoppedObserver->notified());
}

// removeTap waits for a delivery in progress, after which the tap is never
// called again; stop follows without deadlock, however the calls interleave.
TEST_F(PulseCaptureTest, RemoveTapDuringDeliveryThenStop) {
  std::atomic<int> calls{0};
  std::atomic<bool> inside{false};
  Notification delivering;
  engine->installTap(tapFrames, engine->inputFormat(), [&](const PcmBuffer&) {
    inside = true;
    ++calls;
    delivering.notify();
    std::this_thread::sleep_for(100ms);  // keep the delivery going while removeTap arrives
    inside = false;
  });
  engine->start();
  Task speaker([&](std::stop_token) { daemon.speak("fakemic", speech(8 * tapFrames)); });
  ASSERT_TRUE(delivering.waitFor(10s));
  int callsAtRemoval = 0;
  mustReturnWithin(10s, "removeTap", [&] {
    engine->removeTap();
    EXPECT_FALSE(inside) << "removeTap returned while the tap ran";
    callsAtRemoval = calls;
  });
  mustReturnWithin(10s, "stop", [&] { engine->stop(); });
  speaker.wait();
  EXPECT_EQ(calls, callsAtRemoval);
}

TEST(PulseCaptureNoServerTest, InputFormatAndStartThrowWithTheServersError) {
  test::TempDir dir;
  std::string server = "unix:" + (dir.path() / "native").string();
  const char* old = std::getenv("PULSE_SERVER");
  std::string saved = old ? old : "";
  setenv("PULSE_SERVER", server.c_str(), 1);
  auto engine = pulse::makeCaptureEngine();
  for (auto call : {+[](CaptureEngine& e) { e.inputFormat(); }, +[](CaptureEngine& e) { e.start(); }}) {
    try {
      call(*engine);
      ADD_FAILURE() << "no error without a server";
    } catch (const PlatformError& error) {
      EXPECT_NE(std::string(error.what()).find("cannot connect to the sound server: "), std::string::npos)
          << error.what();
    }
  }
  EXPECT_FALSE(engine->isRunning());
  engine->stop();
  old ? setenv("PULSE_SERVER", saved.c_str(), 1) : unsetenv("PULSE_SERVER");
}

// The re-blocking alone: byte blocks of any size, even splitting a frame,
// come out as deinterleaved buffers of whole frames, in order.
TEST(PulseTapReblockerTest, CutsAnyBlocksIntoWholeBuffers) {
  AudioFormat stereo{16000, 2};
  pulse::TapReblocker reblocker(stereo, 5, 5);  // flushing only full buffers
  std::vector<float> interleaved;
  for (int i = 0; i < 13; ++i) interleaved.insert(interleaved.end(), {float(i), float(-i)});
  std::vector<PcmBuffer> out;
  auto bytes = reinterpret_cast<const std::uint8_t*>(interleaved.data());
  std::size_t total = interleaved.size() * sizeof(float);
  for (std::size_t at = 0, step = 3; at < total; at += step, step = step * 2 + 1) {
    reblocker.push(bytes + at, std::min(step, total - at), [&](const PcmBuffer& b) { out.push_back(b); });
  }
  ASSERT_EQ(out.size(), 2u) << "13 frames make two buffers of 5; 3 frames wait";
  for (std::size_t b = 0; b < out.size(); ++b) {
    EXPECT_EQ(out[b].frameLength, 5u);
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(out[b].channels[0][i], float(b * 5 + i));
      EXPECT_EQ(out[b].channels[1][i], -float(b * 5 + i));
    }
  }
  reblocker.reset();
  float frame[2] = {7, 7};
  for (int i = 0; i < 4; ++i) reblocker.push(frame, sizeof frame, [&](const PcmBuffer& b) { out.push_back(b); });
  EXPECT_EQ(out.size(), 2u) << "reset dropped the 3 waiting frames";
}

// What a block leaves goes out at its end once it reaches the flush size;
// less waits for the next block.
TEST(PulseTapReblockerTest, FlushesWhatABlockLeavesFromTheFlushSizeOn) {
  struct Case {
    const char* name;
    std::vector<std::size_t> blockBytes;  // mono float32: 4 bytes a frame
    std::vector<std::uint32_t> buffers;   // frame counts delivered, in order
  };
  for (const Case& c : {Case{"one large block", {13 * 4}, {5, 5, 3}},
                        Case{"single frames gather up to the flush size", {4, 4, 4, 4, 4}, {2, 2}},
                        Case{"a split frame counts once it is whole", {6, 2, 4}, {2}},
                        Case{"a block of exactly the flush size", {8}, {2}}}) {
    SCOPED_TRACE(c.name);
    pulse::TapReblocker reblocker(AudioFormat{16000, 1}, 5, 2);
    std::vector<float> samples(64);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = float(i);
    auto bytes = reinterpret_cast<const std::uint8_t*>(samples.data());
    std::vector<std::uint32_t> delivered;
    float next = 0;
    std::size_t at = 0;
    for (std::size_t size : c.blockBytes) {
      reblocker.push(bytes + at, size, [&](const PcmBuffer& b) {
        delivered.push_back(b.frameLength);
        for (std::uint32_t i = 0; i < b.frameLength; ++i) EXPECT_EQ(b.channels[0][i], next++);
      });
      at += size;
    }
    EXPECT_EQ(delivered, c.buffers);
  }
}

}  // namespace
}  // namespace tolva

#pragma once
// DecoderCache: loaded decoders kept for reuse within the process, keyed by
// model files and decoder kind, because loading one costs about 0.2 s.
//
// A decoder serves one analysis at a time. acquire() hands out an idle one, or
// loads another when every decoder of that key is busy: a second concurrent
// analysis of a locale never waits for the first, which may be a forced-down
// session still finishing. A lease gives its decoder back when it goes; at
// most maxIdlePerKey decoders per key stay loaded (each holds about 95 MB).
//
// Thread contract: any thread. A lease shares ownership of the cache's state,
// so a thread that outlives its analyzer, or the engine, still returns its
// decoder safely.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/sphinx/decoder.hpp"

namespace tolva::sphinx {

class DecoderCache;

class DecoderLease {
 public:
  DecoderLease() = default;
  DecoderLease(DecoderLease&&) noexcept = default;
  DecoderLease& operator=(DecoderLease&&) noexcept;
  ~DecoderLease();

  Decoder& operator*() const { return *decoder_; }
  Decoder* operator->() const { return decoder_.get(); }
  explicit operator bool() const { return decoder_ != nullptr; }

  // Unloads the decoder instead of giving it back, after a failure left it in
  // an unknown state.
  void discard() { decoder_.reset(); }

 private:
  friend class DecoderCache;
  struct Pool;
  DecoderLease(std::shared_ptr<Pool> pool, std::string key, std::unique_ptr<Decoder> decoder);
  void giveBack();

  std::shared_ptr<Pool> pool_;
  std::string key_;
  std::unique_ptr<Decoder> decoder_;
};

class DecoderCache {
 public:
  static constexpr std::size_t maxIdlePerKey = 1;

  DecoderCache();

  // A decoder for the model, ready for Decoder::beginAnalysis(). Throws
  // PlatformError when the model cannot be loaded.
  DecoderLease acquire(const store::ModelFiles& files, DecoderKind kind);

  // How many decoders this cache has loaded so far.
  std::int64_t decodersLoaded() const;

 private:
  std::shared_ptr<DecoderLease::Pool> pool_;
};

}  // namespace tolva::sphinx

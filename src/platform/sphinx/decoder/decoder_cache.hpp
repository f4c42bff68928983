#pragma once
// DecoderCache: loaded decoders kept for reuse within the process, keyed by
// model files and decoder kind, because loading one costs about 0.2 s. All of
// them are loaded with the cache's settings.
//
// A decoder serves one analysis at a time. acquire() hands out an idle one, or
// loads another when every decoder of that key is busy: a second concurrent
// analysis of a locale never waits for the first, which may be a forced-down
// session still finishing. A lease gives its decoder back when it goes; at
// most maxIdlePerKey decoders per key stay loaded (each holds about 95 MB).
// preload() loads one ahead of need; an acquire() while it loads waits for
// that decoder instead of loading its own.
//
// Decoders share nothing but the model files the library maps. A language
// model can be handed from one decoder to another (ps_get_lm, ps_set_lm), but
// this PocketSphinx keeps the last scored history and its back-off weights in
// the model itself: two decoders sharing one crash when they decode at once.
// The acoustic model and the dictionary cannot be shared through the
// library's interface.
//
// Thread contract: any thread. A lease shares ownership of the cache's state,
// so a thread that outlives its analyzer, or the engine, still returns its
// decoder safely.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/sphinx/decoder/decoder.hpp"

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

  explicit DecoderCache(SphinxSettings settings = {});

  const SphinxSettings& settings() const { return settings_; }

  // A decoder for the model, ready for Decoder::beginAnalysis(). Throws
  // PlatformError when the model cannot be loaded.
  DecoderLease acquire(const store::ModelFiles& files, DecoderKind kind);

  // Loads a decoder for the model and runs `warm` on it before it goes idle,
  // unless one is idle or being loaded already; blocks while it works.
  // Returns whether it loaded one. Throws PlatformError (from the load or
  // `warm`), and then caches nothing.
  bool preload(const store::ModelFiles& files, DecoderKind kind, const std::function<void(Decoder&)>& warm = {});

  // How many decoders this cache has loaded so far.
  std::int64_t decodersLoaded() const;

 private:
  SphinxSettings settings_;
  std::shared_ptr<DecoderLease::Pool> pool_;
};

}  // namespace tolva::sphinx

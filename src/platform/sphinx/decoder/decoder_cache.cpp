#include "platform/sphinx/decoder/decoder_cache.hpp"

#include <condition_variable>
#include <exception>
#include <map>
#include <mutex>
#include <vector>

namespace tolva::sphinx {

struct DecoderLease::Pool {
  std::mutex mutex;
  std::condition_variable preloaded;
  std::map<std::string, std::vector<std::unique_ptr<Decoder>>> idle;
  std::map<std::string, int> preloading;  // preloads under way
  std::int64_t loaded = 0;
};

namespace {

std::string cacheKey(const store::ModelFiles& files, DecoderKind kind) {
  // NUL cannot occur in a path, so the fields cannot run into each other.
  std::string key(1, kind == DecoderKind::streaming ? 's' : 'w');
  for (const std::string* part : {&files.acousticModel, &files.languageModel, &files.dictionary}) {
    key += '\0';
    key += *part;
  }
  return key;
}

}  // namespace

DecoderLease::DecoderLease(std::shared_ptr<Pool> pool, std::string key, std::unique_ptr<Decoder> decoder)
    : pool_(std::move(pool)), key_(std::move(key)), decoder_(std::move(decoder)) {}

DecoderLease& DecoderLease::operator=(DecoderLease&& other) noexcept {
  if (this != &other) {
    giveBack();
    pool_ = std::move(other.pool_);
    key_ = std::move(other.key_);
    decoder_ = std::move(other.decoder_);
  }
  return *this;
}

DecoderLease::~DecoderLease() { giveBack(); }

void DecoderLease::giveBack() {
  if (!pool_ || !decoder_) return;
  std::unique_ptr<Decoder> surplus;
  {
    std::lock_guard lock(pool_->mutex);
    auto& idle = pool_->idle[key_];
    if (idle.size() < DecoderCache::maxIdlePerKey) {
      idle.push_back(std::move(decoder_));
    } else {
      surplus = std::move(decoder_);
    }
  }
  // Unloading takes a while; the pool's lock is not held for it.
  surplus.reset();
}

DecoderCache::DecoderCache(SphinxSettings settings)
    : settings_(std::move(settings)), pool_(std::make_shared<DecoderLease::Pool>()) {}

DecoderLease DecoderCache::acquire(const store::ModelFiles& files, DecoderKind kind) {
  std::string key = cacheKey(files, kind);
  {
    std::unique_lock lock(pool_->mutex);
    auto& idle = pool_->idle[key];
    // A preload is the load this analysis would start: wait for its decoder.
    pool_->preloaded.wait(lock, [&] { return !idle.empty() || pool_->preloading[key] == 0; });
    if (!idle.empty()) {
      std::unique_ptr<Decoder> decoder = std::move(idle.back());
      idle.pop_back();
      return DecoderLease(pool_, std::move(key), std::move(decoder));
    }
  }
  // Loading runs outside the pool's lock, so other keys are not held up.
  std::unique_ptr<Decoder> decoder = Decoder::load(files, kind, settings_.of(kind));
  {
    std::lock_guard lock(pool_->mutex);
    ++pool_->loaded;
  }
  return DecoderLease(pool_, std::move(key), std::move(decoder));
}

bool DecoderCache::preload(const store::ModelFiles& files, DecoderKind kind,
                           const std::function<void(Decoder&)>& warm) {
  std::string key = cacheKey(files, kind);
  {
    std::lock_guard lock(pool_->mutex);
    if (!pool_->idle[key].empty() || pool_->preloading[key] > 0) return false;
    ++pool_->preloading[key];
  }
  std::unique_ptr<Decoder> decoder;
  std::exception_ptr error;
  try {
    decoder = Decoder::load(files, kind, settings_.of(kind));
    if (warm) warm(*decoder);
  } catch (...) {
    error = std::current_exception();
    decoder.reset();
  }
  {
    std::lock_guard lock(pool_->mutex);
    --pool_->preloading[key];
    if (decoder) {
      ++pool_->loaded;
      pool_->idle[key].push_back(std::move(decoder));
    }
  }
  // Waiting acquires take the decoder, or load their own after a failure.
  pool_->preloaded.notify_all();
  if (error) std::rethrow_exception(error);
  return true;
}

std::int64_t DecoderCache::decodersLoaded() const {
  std::lock_guard lock(pool_->mutex);
  return pool_->loaded;
}

}  // namespace tolva::sphinx

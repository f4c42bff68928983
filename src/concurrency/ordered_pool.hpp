#pragma once
// OrderedPool<Job, Result>: a parallel map over a stream of jobs that keeps
// their order. One producer submits jobs one at a time; up to `threads`
// workers do them; each result goes to the consumer in submission order, as
// soon as it and every earlier one are done.
//
//   - Workers start on demand, when a job waits and no worker is free, so a
//     short stream never pays for set-up it does not use. Each worker makes
//     its own state (a loaded decoder, say) through the factory, on its own
//     thread, and destroys it there when it ends.
//   - At most `window` jobs are in flight (submitted and not yet consumed):
//     submit() blocks while the window is full, so a fast producer cannot run
//     ahead of slow workers and memory stays bounded whatever the stream's
//     length.
//   - With one thread, submit() does the job and consumes its result on the
//     calling thread, and no thread is started.
//   - The first failure (the factory, a job or the consumer throwing) halts
//     the pool: no further job starts, no further result is consumed, and
//     finish() rethrows it. A stop request halts it the same way, without an
//     error. A job already running is finished first.
//
// Thread contract: the constructor, submit(), finish(), workersStarted() and
// the destructor on one thread, the producer's. The consumer is called one
// call at a time, from the producer or a worker. Every worker thread is joined
// by finish() or, at the latest, by the destructor.

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <utility>
#include <vector>

namespace tolva {

template <class Job, class Result>
class OrderedPool {
 public:
  // What one worker uses to do jobs, made on the worker's thread.
  class Worker {
   public:
    virtual ~Worker() = default;
    virtual Result run(Job& job) = 0;
  };
  using WorkerFactory = std::function<std::unique_ptr<Worker>()>;
  using Consumer = std::function<void(Result&&)>;

  OrderedPool(std::size_t threads, std::size_t window, WorkerFactory makeWorker, Consumer consume,
              std::stop_token stop = {})
      : threads_(std::max<std::size_t>(threads, 1)),
        window_(std::max(window, threads_)),
        makeWorker_(std::move(makeWorker)),
        consume_(std::move(consume)),
        forwardStop_(stop, RequestStop{halt_}) {}

  OrderedPool(const OrderedPool&) = delete;
  OrderedPool& operator=(const OrderedPool&) = delete;

  ~OrderedPool() {
    halt_.request_stop();
    joinWorkers();
  }

  // Queues a job, blocking while the window is full. Returns false, dropping
  // the job, once the pool has halted.
  bool submit(Job job) {
    if (threads_ == 1) return runHere(job);
    std::unique_lock lock(mutex_);
    std::stop_token halted = halt_.get_token();
    changed_.wait(lock, halted, [&] { return submitted_ - consumed_ < window_; });
    if (halted.stop_requested()) return false;
    queue_.emplace_back(submitted_++, std::move(job));
    bool startWorker = queue_.size() > idle_ && workers_.size() < threads_;
    lock.unlock();
    changed_.notify_all();
    if (startWorker) workers_.emplace_back([this] { work(); });
    return true;
  }

  // Ends the stream: waits until every job's result is consumed (or the pool
  // halts), joins the workers and rethrows the first failure.
  void finish() {
    {
      std::unique_lock lock(mutex_);
      closed_ = true;
      changed_.notify_all();
      changed_.wait(lock, halt_.get_token(), [&] { return consumed_ == submitted_; });
    }
    joinWorkers();
    std::lock_guard lock(mutex_);
    if (error_) std::rethrow_exception(error_);
  }

  // How many workers have been started (one at most with one thread).
  std::size_t workersStarted() const { return threads_ == 1 ? (madeHere_ ? 1 : 0) : workers_.size(); }

 private:
  struct RequestStop {
    std::stop_source source;
    void operator()() { source.request_stop(); }
  };

  bool runHere(Job& job) {
    if (halt_.stop_requested()) return false;
    try {
      if (!hereWorker_) {
        madeHere_ = true;
        hereWorker_ = makeWorker_();
      }
      consume_(hereWorker_->run(job));
      return true;
    } catch (...) {
      fail(std::current_exception());
      return false;
    }
  }

  void work() {
    std::unique_ptr<Worker> worker;
    try {
      worker = makeWorker_();
    } catch (...) {
      fail(std::current_exception());
      return;
    }
    while (std::optional<std::pair<std::size_t, Job>> job = take()) {
      std::optional<Result> result;
      try {
        result.emplace(worker->run(job->second));
      } catch (...) {
        fail(std::current_exception());
        return;
      }
      complete(job->first, std::move(*result));
    }
  }

  std::optional<std::pair<std::size_t, Job>> take() {
    std::unique_lock lock(mutex_);
    std::stop_token halted = halt_.get_token();
    ++idle_;
    changed_.wait(lock, halted, [&] { return !queue_.empty() || closed_; });
    --idle_;
    if (halted.stop_requested() || queue_.empty()) return std::nullopt;
    std::pair<std::size_t, Job> job = std::move(queue_.front());
    queue_.pop_front();
    return job;
  }

  void complete(std::size_t index, Result result) {
    {
      std::lock_guard lock(mutex_);
      done_.emplace(index, std::move(result));
    }
    // One thread consumes at a time, in order, outside the state lock so that
    // other workers can hand in results meanwhile.
    std::lock_guard consuming(consumeMutex_);
    while (std::optional<Result> next = takeNextDone()) {
      try {
        consume_(std::move(*next));
      } catch (...) {
        fail(std::current_exception());
        return;
      }
      {
        std::lock_guard lock(mutex_);
        ++consumed_;
      }
      changed_.notify_all();
    }
  }

  std::optional<Result> takeNextDone() {
    std::lock_guard lock(mutex_);
    auto found = done_.find(consumed_);
    if (halt_.stop_requested() || found == done_.end()) return std::nullopt;
    std::optional<Result> next(std::move(found->second));
    done_.erase(found);
    return next;
  }

  void fail(std::exception_ptr error) {
    {
      std::lock_guard lock(mutex_);
      if (!error_) error_ = std::move(error);
    }
    halt_.request_stop();  // wakes every wait
  }

  void joinWorkers() {
    for (std::jthread& worker : workers_) {
      if (worker.joinable()) worker.join();
    }
    hereWorker_.reset();
  }

  const std::size_t threads_;
  const std::size_t window_;
  WorkerFactory makeWorker_;
  Consumer consume_;
  std::stop_source halt_;
  std::stop_callback<RequestStop> forwardStop_;

  std::mutex mutex_;
  std::condition_variable_any changed_;
  std::deque<std::pair<std::size_t, Job>> queue_;
  std::map<std::size_t, Result> done_;  // finished, waiting for earlier ones
  std::size_t submitted_ = 0;
  std::size_t consumed_ = 0;
  std::size_t idle_ = 0;  // workers waiting for a job
  bool closed_ = false;
  std::exception_ptr error_;
  std::mutex consumeMutex_;

  std::unique_ptr<Worker> hereWorker_;  // the one-thread case's
  bool madeHere_ = false;
  std::vector<std::jthread> workers_;  // producer's thread only
};

}  // namespace tolva

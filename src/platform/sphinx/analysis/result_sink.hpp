#pragma once
// ResultSink: hands an analysis's results to its transcriber modules, each as
// its preset asks: volatile results only to modules with volatileResults,
// alternative counts only to modules with alternatives (0 for the others), and
// words only to modules with wordTimings (none for the others).
//
// Thread contract: any thread; the channels serialise.

#include <cstdint>
#include <exception>
#include <memory>
#include <vector>

#include "platform/speech.hpp"

namespace tolva::sphinx {

// More distinct n-best texts than this are not counted as alternatives.
inline constexpr std::int64_t maxAlternatives = 5;

class ResultSink {
 public:
  ResultSink() = default;  // no modules
  explicit ResultSink(const TranscriberModules& modules);

  bool wantsVolatileResults() const { return wantsVolatile_; }
  bool wantsAlternatives() const { return wantsAlternatives_; }
  bool wantsWordTimings() const { return wantsWordTimings_; }

  void deliver(const TranscriberResult& result) const;
  // Ends every module's results; only the first end counts.
  void finish() const;
  void finish(std::exception_ptr error) const;

 private:
  struct Module {
    std::shared_ptr<ResultChannel> results;
    TranscriberPreset preset;
  };
  std::vector<Module> modules_;
  bool wantsVolatile_ = false;
  bool wantsAlternatives_ = false;
  bool wantsWordTimings_ = false;
};

}  // namespace tolva::sphinx

#include "platform/sphinx/analysis/result_sink.hpp"

namespace tolva::sphinx {

ResultSink::ResultSink(const TranscriberModules& modules) {
  for (const auto& module : modules) {
    if (!module) continue;
    modules_.push_back({module->results(), module->preset()});
    wantsVolatile_ = wantsVolatile_ || module->preset().volatileResults;
    wantsAlternatives_ = wantsAlternatives_ || module->preset().alternatives;
    wantsWordTimings_ = wantsWordTimings_ || module->preset().wordTimings;
  }
}

void ResultSink::deliver(const TranscriberResult& result) const {
  for (const Module& module : modules_) {
    if (!result.isFinal && !module.preset.volatileResults) continue;
    TranscriberResult copy = result;
    if (!module.preset.alternatives) copy.alternatives = 0;
    if (!module.preset.wordTimings) copy.words.clear();
    module.results->yield(std::move(copy));
  }
}

void ResultSink::finish() const {
  for (const Module& module : modules_) module.results->finish();
}

void ResultSink::finish(std::exception_ptr error) const {
  for (const Module& module : modules_) module.results->finish(error);
}

}  // namespace tolva::sphinx

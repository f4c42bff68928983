#pragma once
// The collector of a file transcription: reads the transcriber's results on
// its own task into Segments and a running total of alternatives. A results
// stream that ends with an error is logged and ends the collection normally.

#include <memory>
#include <vector>

#include "concurrency/task.hpp"
#include "output/documents.hpp"
#include "platform/speech.hpp"

namespace tolva {

struct CollectedResults {
  std::vector<Segment> segments;
  std::int64_t alternatives = 0;
};

class ResultCollector {
 public:
  // Starts reading `results` at once. With `withWords` each segment keeps the
  // result's words (times that are not finite stored as 0).
  explicit ResultCollector(std::shared_ptr<ResultChannel> results, bool withWords = false);

  // Waits for the stream to end and hands over what was collected.
  CollectedResults finish();

  // Cancels the collection and waits for its task to end.
  void stop() {
    task_.cancel();
    task_.wait();
  }

 private:
  std::shared_ptr<CollectedResults> collected_;
  Task task_;
};

}  // namespace tolva

#pragma once
// Cuts the bytes of standard input into command lines. A line ends at a line
// feed; a carriage return before it is dropped too, and a last line without a
// terminator still counts. Bytes are kept as they came, UTF-8 or not. A line
// longer than maxCommandLineBytes is never held whole: it is reported as
// oversized and its bytes are dropped as they arrive.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolva {

inline constexpr std::size_t maxCommandLineBytes = std::size_t{1} << 20;

struct StdinLine {
  std::string text;  // without its terminator; empty when oversized
  bool oversized = false;

  bool operator==(const StdinLine&) const = default;
};

class StdinLineSplitter {
 public:
  explicit StdinLineSplitter(std::size_t maxLineBytes = maxCommandLineBytes) : maxLineBytes_(maxLineBytes) {}

  // The lines completed by `bytes`, in order.
  std::vector<StdinLine> feed(std::string_view bytes);
  // At the end of input: the unterminated last line, if any.
  std::optional<StdinLine> finish();

 private:
  void append(std::string_view bytes);
  StdinLine complete();

  std::size_t maxLineBytes_;
  std::string pending_;
  bool discarding_ = false;
};

}  // namespace tolva

#include "live/protocol/stdin_line_splitter.hpp"

#include "output/utf8_text.hpp"

namespace tolva {

std::vector<StdinLine> StdinLineSplitter::feed(std::string_view bytes) {
  std::vector<StdinLine> lines;
  for (auto end = bytes.find('\n'); end != std::string_view::npos; end = bytes.find('\n')) {
    append(bytes.substr(0, end));
    lines.push_back(complete());
    bytes.remove_prefix(end + 1);
  }
  append(bytes);
  return lines;
}

std::optional<StdinLine> StdinLineSplitter::finish() {
  if (pending_.empty() && !discarding_) return std::nullopt;
  return complete();
}

void StdinLineSplitter::append(std::string_view bytes) {
  if (discarding_) return;
  // One byte more than the limit may be a carriage return that goes with the line feed.
  if (pending_.size() + bytes.size() > maxLineBytes_ + 1) {
    discarding_ = true;
    std::string().swap(pending_);  // give the memory back at once
    return;
  }
  pending_.append(bytes);
}

StdinLine StdinLineSplitter::complete() {
  StdinLine line;
  if (!pending_.empty() && pending_.back() == '\r') pending_.pop_back();
  if (discarding_ || pending_.size() > maxLineBytes_) {
    line.oversized = true;
  } else {
    line.text = std::move(pending_);
  }
  pending_.clear();
  discarding_ = false;
  return line;
}

}  // namespace tolva

#include "output/json_writer.hpp"

#include <charconv>
#include <cmath>

namespace tolva {

JsonArray jsonStrings(const std::vector<std::string>& values) {
  return JsonArray(values.begin(), values.end());
}

namespace {

class Writer {
 public:
  explicit Writer(bool pretty) : pretty_(pretty) {}

  // Returns false when the value holds a non-finite number.
  bool write(const JsonValue& value, int depth) {
    return std::visit([&](const auto& v) { return writeOne(v, depth); }, value.storage());
  }

  std::string take() { return std::move(out_); }

 private:
  bool writeOne(bool v, int) {
    out_ += v ? "true" : "false";
    return true;
  }

  bool writeOne(std::int64_t v, int) {
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
    out_.append(buffer, result.ptr);
    return true;
  }

  bool writeOne(double v, int) {
    if (!std::isfinite(v)) return false;
    char buffer[32];
    // Shortest round-trip form; to_chars writes a whole value without a fraction.
    auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
    out_.append(buffer, result.ptr);
    return true;
  }

  bool writeOne(const std::string& v, int) {
    writeString(v);
    return true;
  }

  bool writeOne(const JsonArray& v, int depth) {
    if (v.empty()) {
      out_ += "[]";
      return true;
    }
    out_ += '[';
    for (std::size_t i = 0; i < v.size(); ++i) {
      if (i > 0) out_ += ',';
      newline(depth + 1);
      if (!write(v[i], depth + 1)) return false;
    }
    newline(depth);
    out_ += ']';
    return true;
  }

  bool writeOne(const JsonObject& v, int depth) {
    if (v.empty()) {
      out_ += "{}";
      return true;
    }
    out_ += '{';
    bool first = true;
    for (const auto& [key, member] : v) {
      if (!first) out_ += ',';
      first = false;
      newline(depth + 1);
      writeString(key);
      out_ += pretty_ ? " : " : ":";
      if (!write(member, depth + 1)) return false;
    }
    newline(depth);
    out_ += '}';
    return true;
  }

  void newline(int depth) {
    if (!pretty_) return;
    out_ += '\n';
    out_.append(static_cast<std::size_t>(depth) * 2, ' ');
  }

  void writeString(const std::string& s) {
    static constexpr char hex[] = "0123456789abcdef";
    out_ += '"';
    for (unsigned char c : s) {
      switch (c) {
        case '"': out_ += "\\\""; break;
        case '\\': out_ += "\\\\"; break;
        case '/': out_ += "\\/"; break;
        case '\b': out_ += "\\b"; break;
        case '\f': out_ += "\\f"; break;
        case '\n': out_ += "\\n"; break;
        case '\r': out_ += "\\r"; break;
        case '\t': out_ += "\\t"; break;
        default:
          if (c < 0x20) {
            out_ += "\\u00";
            out_ += hex[c >> 4];
            out_ += hex[c & 0xf];
          } else {
            out_ += static_cast<char>(c);
          }
      }
    }
    out_ += '"';
  }

  bool pretty_;
  std::string out_;
};

std::optional<std::string> write(const JsonValue& value, bool pretty) {
  Writer writer(pretty);
  if (!writer.write(value, 0)) return std::nullopt;
  return writer.take();
}

}  // namespace

std::optional<std::string> writeJsonPretty(const JsonValue& value) { return write(value, true); }

std::optional<std::string> writeJsonCompact(const JsonValue& value) { return write(value, false); }

}  // namespace tolva

#include "output/json_writer.hpp"

#include <unicode/utf8.h>

#include <charconv>
#include <cmath>
#include <cstdint>

namespace tolva {

JsonArray jsonStrings(const std::vector<std::string>& values) { return JsonArray(values.begin(), values.end()); }

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

  // Ill-formed UTF-8 (a path or a platform message may hold any bytes)
  // becomes U+FFFD, one per maximal ill-formed subpart, so a strict parser
  // never rejects the whole document for one string.
  void writeString(const std::string& s) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(s.data());
    auto length = static_cast<std::int32_t>(s.size());
    out_ += '"';
    for (std::int32_t at = 0; at < length;) {
      std::int32_t start = at;
      UChar32 c;
      U8_NEXT(bytes, at, length, c);
      if (c < 0) {
        out_ += "\xEF\xBF\xBD";
      } else if (c < 0x80) {
        writeAscii(static_cast<char>(c));
      } else {
        out_.append(s, static_cast<std::size_t>(start), static_cast<std::size_t>(at - start));
      }
    }
    out_ += '"';
  }

  void writeAscii(char c) {
    static constexpr char hex[] = "0123456789abcdef";
    switch (c) {
      case '"':
        out_ += "\\\"";
        break;
      case '\\':
        out_ += "\\\\";
        break;
      case '/':
        out_ += "\\/";
        break;
      case '\b':
        out_ += "\\b";
        break;
      case '\f':
        out_ += "\\f";
        break;
      case '\n':
        out_ += "\\n";
        break;
      case '\r':
        out_ += "\\r";
        break;
      case '\t':
        out_ += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          out_ += "\\u00";
          out_ += hex[c >> 4];
          out_ += hex[c & 0xf];
        } else {
          out_ += c;
        }
    }
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

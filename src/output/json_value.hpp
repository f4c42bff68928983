#pragma once
// JsonValue: the value model our writer serialises. Objects keep their members
// sorted by key (code-point order of the UTF-8 bytes), which is the order the
// pretty documents require; compact lines have no fixed order, so the same
// sorted order serves them too.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tolva {

class JsonValue;
using JsonArray = std::vector<JsonValue>;
using JsonObject = std::map<std::string, JsonValue, std::less<>>;

class JsonValue {
 public:
  using Storage = std::variant<bool, std::int64_t, double, std::string, JsonArray, JsonObject>;

  JsonValue() : value_(JsonObject{}) {}
  JsonValue(bool value) : value_(value) {}
  JsonValue(int value) : value_(std::int64_t{value}) {}
  JsonValue(long value) : value_(std::int64_t{value}) {}
  JsonValue(long long value) : value_(static_cast<std::int64_t>(value)) {}
  JsonValue(unsigned value) : value_(std::int64_t{value}) {}
  JsonValue(unsigned long value) : value_(static_cast<std::int64_t>(value)) {}
  JsonValue(double value) : value_(value) {}
  JsonValue(const char* value) : value_(std::string(value)) {}
  JsonValue(std::string_view value) : value_(std::string(value)) {}
  JsonValue(std::string value) : value_(std::move(value)) {}
  JsonValue(JsonArray value) : value_(std::move(value)) {}
  JsonValue(JsonObject value) : value_(std::move(value)) {}

  const Storage& storage() const { return value_; }

  template <class T>
  const T* get() const {
    return std::get_if<T>(&value_);
  }

 private:
  Storage value_;
};

// Builds an array of strings, the commonest list in our documents.
JsonArray jsonStrings(const std::vector<std::string>& values);

}  // namespace tolva

#pragma once
// Writing the one document of a one-shot subcommand.
//
// emit() encodes a record pretty-printed with sorted keys and writes it to
// standard output, then a line feed in a second write. When the record cannot
// be encoded (a non-finite number) it writes the fixed 26-byte text
// {"error":"encode-failed"}\n instead; the caller carries on as after success.
//
// fail() logs "fatal" with `code` and `message`, emits an ErrorOut and leaves
// the process with status 1, from whichever thread calls it.

#include <optional>
#include <string>

#include "output/documents.hpp"

namespace tolva {

inline constexpr std::string_view encodeFailedText = "{\"error\":\"encode-failed\"}\n";

void emitDocument(const JsonValue& document);

template <class Record>
void emit(const Record& record) {
  emitDocument(toJson(record));
}

[[noreturn]] void fail(const std::string& code, const std::string& message,
                       std::optional<std::string> detail = std::nullopt);

}  // namespace tolva

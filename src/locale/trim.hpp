#pragma once

#include <string>
#include <string_view>

namespace tolva {

// `text` without the white space and line breaks (Unicode White_Space) at
// both ends.
std::string trimWhitespaceAndNewlines(std::string_view text);

}  // namespace tolva

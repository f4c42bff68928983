#pragma once
// The error every platform operation throws. what() is the platform's own
// description of the failure; the system passes it on unchanged as a detail,
// a message or a log field.

#include <stdexcept>
#include <string>

namespace tolva {

class PlatformError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The description of any caught exception, for details and log fields.
std::string describe(const std::exception_ptr& error);

}  // namespace tolva

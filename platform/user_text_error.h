#pragma once

#include <stdexcept>
#include <string>

namespace platform {

// An error whose what() is UTF-8 text for the user as it stands (a database's own message), which the error report
// shows without decoding it from the system's code page: a floor this low, so the library that throws it and the one
// that reports it need not know each other.
class UserTextError : public std::runtime_error {
 public:
  explicit UserTextError(const std::string& utf8Text);
  ~UserTextError() override;
};

}  // namespace platform

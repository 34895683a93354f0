#include "platform/user_text_error.h"

namespace platform {

UserTextError::UserTextError(const std::string& utf8Text) : std::runtime_error(utf8Text) {}

// Out of line, so the class's type information lives in one place for every library that catches it.
UserTextError::~UserTextError() = default;

}  // namespace platform

#pragma once

#include <string>
#include <utility>

namespace plimsy {

// Operations that can fail return bool and take an optional message: on
// failure they put exactly one complete sentence into it, and the caller
// passes it on unchanged. A false result with an empty message means that the
// user declined an offer and nothing is to be shown.
//
// fail() sets the message when the caller asked for one and returns false, so
// that failing paths read `return fail(message, "Missing zip file.");`.
inline bool fail(std::string* message, std::string text) {
  if (message) *message = std::move(text);
  return false;
}

}  // namespace plimsy

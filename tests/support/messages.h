#pragma once

// Messages as tests read them: a message about a file may go on, after its
// first line, with the path and the system's reason.

#include <string>
#include <string_view>

namespace plimsy::test {

inline std::string firstLine(std::string_view message) { return std::string(message.substr(0, message.find('\n'))); }

}  // namespace plimsy::test

#pragma once

// UTF-8 <-> UTF-16 as Windows converts them, for the code that talks to
// Windows (the platform layer and the Win32 window backend). Windows only.

#include <string>
#include <string_view>

namespace plimsy::platform {

// Invalid UTF-8 becomes U+FFFD, as the system itself converts; empty for text
// too long for the system's conversion.
std::wstring widen(std::string_view text);

// An unpaired surrogate (a name no valid UTF-16 can hold) becomes U+FFFD.
std::string narrow(std::wstring_view text);

}  // namespace plimsy::platform

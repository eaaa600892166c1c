#pragma once

// Hands a file or folder to the desktop, to be opened in the program the
// desktop associates with it, and learns whether there was one.

#include <cstdint>
#include <string>

namespace plimsy::ui {

// Classic shell results: above 32 is success.
inline constexpr std::intptr_t kShellFileNotFound = 2;
inline constexpr std::intptr_t kShellNoAssociation = 31;
inline constexpr std::intptr_t kShellSuccess = 33;

// Opens an existing file or folder. kShellSuccess when a program took it,
// kShellNoAssociation when the desktop has none for it, kShellFileNotFound
// when the desktop could not find it. Blocks the calling thread for at most
// about a second.
std::intptr_t openOnDesktop(const std::string& path);

}  // namespace plimsy::ui

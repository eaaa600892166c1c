#pragma once

// The path checks that the zip and unzip jobs run before they touch anything:
// the level is valid, both paths are given and absolute, the job's source
// exists with the right kind, and the epub does not lie inside the files
// folder.

#include <string>

#include "core/settings.h"

namespace plimsy {

// Checks `order` for its DoWhat (1 zip, 2 unzip); the first failing test
// gives its message:
//   "Compression level must be between 0 and 9 inclusive."
//   "Missing zip file."  /  "Missing files folder."
//   "Zip file path is not absolute."  /  "Files directory path is not absolute."
//   "Unable to ascertain whether zip path and files directory path are absolute."
//   zip:   "Files folder does not exist."  /  "Files folder is not a directory."
//   unzip: "Zip file does not exist."  /  "Zip file is a directory."
//   the messages of isInDirectoryTree, then "Zip file is in files directory tree."
// When every test passes, FilesDir gets a trailing separator.
bool checkPaths(EpubWorkOrder& order, std::string* message);

}  // namespace plimsy

#pragma once

// The keys by which unzipping finds entries that unpack to the same file or
// folder, or a file where another entry needs a folder: such entries are
// unpacked in order on one thread, and a later file replaces an earlier one.

#include <string>
#include <string_view>
#include <vector>

namespace plimsy {

// An entry name as the file system sees it: its parts ("/" and "\\" both
// separate; empty and "." parts dropped), each by the file system's key
// (platform::fileNameKey: exact on POSIX, NTFS's upper case on Windows),
// joined by a separator byte below every character a safe name holds. Two
// entries with the same key unpack to the same file or folder.
std::string fileKey(std::string_view name);

// The key by which the threads' work is split: the file system's key, also
// without regard to ASCII case (which a case-blind file system on POSIX, a
// memory stick say, ignores too). Names with the same file key always share
// it; names that share it only by ASCII case cost only the threads.
struct sNameKey {
  std::string key;
  bool folder = false;
};

sNameKey clashKey(const std::string& fileKey, bool folder);

// Whether two of the keys clash: two equal keys, or a file's key with a key
// below it. Keys of empty names do not count; the keys are sorted (and those
// of empty names dropped) on the way. (A name holding the separator byte
// itself may be taken for a clash it is not: that costs only the threads.)
bool namesClash(std::vector<sNameKey>& keys);

}  // namespace plimsy

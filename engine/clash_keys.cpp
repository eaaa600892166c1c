#include "engine/clash_keys.h"

#include <algorithm>

#include "core/paths.h"
#include "core/platform.h"
#include "core/text.h"
#include "engine/entry_name_rules.h"

namespace plimsy {
namespace {

// The separator of the parts of a name key: the lowest byte a name can hold
// (a NUL makes a name unsafe), so that the keys of everything in a folder sort
// right after the folder's own key.
constexpr char kKeySeparator = '\x01';

}  // namespace

std::string fileKey(std::string_view name) {
  std::string key;
  key.reserve(name.size());
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = start;
    while (end < name.size() && !isEntrySeparator(name[end])) ++end;
    const std::string_view part = name.substr(start, end - start);
    if (!part.empty() && part != ".") {
      if (!key.empty()) key += kKeySeparator;
      if constexpr (kWindowsNameRules)
        key += platform::fileNameKey(part);
      else
        key += part;
    }
    start = end + 1;
  }
  return key;
}

sNameKey clashKey(const std::string& fileKey, bool folder) {
  sNameKey result{fileKey, folder};
  for (char& c : result.key) c = asciiLower(c);
  return result;
}

bool namesClash(std::vector<sNameKey>& keys) {
  std::erase_if(keys, [](const sNameKey& k) { return k.key.empty(); });
  std::sort(keys.begin(), keys.end(), [](const sNameKey& a, const sNameKey& b) { return a.key < b.key; });
  for (std::size_t i = 0; i + 1 < keys.size(); ++i) {
    const std::string& key = keys[i].key;
    const std::string& next = keys[i + 1].key;
    if (next == key) return true;
    if (!keys[i].folder && next.size() > key.size() && next.compare(0, key.size(), key) == 0 &&
        next[key.size()] == kKeySeparator)
      return true;
  }
  return false;
}

}  // namespace plimsy

#pragma once

// Every message the ZIP reader, the analysis log and the unzip job can give
// about an archive, kept in one place, so that tests which feed them archives
// of unknown quality (truncated, damaged, from other projects) can insist on
// a clear refusal rather than any text at all.

#include <string>

namespace plimsy::test {

// Whether `message` is one of them (messages with a placeholder match on
// their fixed part).
bool isArchiveMessage(const std::string& message);

}  // namespace plimsy::test

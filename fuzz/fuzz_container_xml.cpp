// libFuzzer entry point; see fuzz_targets.h for what one input does.

#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return plimsy::fuzz::containerXmlOneInput(data, size);
}

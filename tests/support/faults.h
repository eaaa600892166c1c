#pragma once

// Injected failures of the platform layer for the length of a test.

#include <cstdint>

#include "core/platform.h"

namespace plimsy::test {

// Makes the nth operation of a kind fail (and, with `sticky`, every later
// one: a full disk) until the object goes out of scope.
class ScopedFault {
 public:
  ScopedFault(platform::FaultOperation operation, std::uint64_t nth, bool sticky = false) {
    platform::armFault(operation, nth, sticky);
  }
  ~ScopedFault() { platform::disarmFaults(); }
  ScopedFault(const ScopedFault&) = delete;
  ScopedFault& operator=(const ScopedFault&) = delete;
};

}  // namespace plimsy::test

#pragma once

// The address ranges of mapped files whose pages may become unreadable while
// they are read: a file shortened by another program (SIGBUS on POSIX), a
// USB stick pulled out or a network share lost (EXCEPTION_IN_PAGE_ERROR on
// Windows). The platform's fault handler looks the faulting address up here
// and, when it lies in a registered range, lets the read go on with zeros and
// marks the range damaged; the mapping's reader then fails with a message.
//
// Lookups are made inside a signal handler: they take no lock and allocate
// nothing. The table grows in blocks (never shrinks), so any number of
// mappings can be guarded at once.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace plimsy::platform::detail {

inline constexpr std::size_t kGuardSlotsPerBlock = 256;

struct sGuardSlot {
  std::atomic<std::uintptr_t> start{0};  // 0 while the slot is free
  std::atomic<std::uintptr_t> end{0};    // one past the range's last byte
  std::atomic<bool> damaged{false};      // a page of the range could not be read
  std::atomic<bool> replaced{false};     // the whole range was replaced by zeros (no longer the file's view)
};

class cGuardedRanges {
 public:
  constexpr cGuardedRanges() = default;
  ~cGuardedRanges();
  cGuardedRanges(const cGuardedRanges&) = delete;
  cGuardedRanges& operator=(const cGuardedRanges&) = delete;

  // Registers the range [start, end) (start not 0, end after it) in a free
  // slot, with no damage. nullptr when the table is full and no memory can be
  // found for another block: the range would be read unguarded.
  sGuardSlot* add(std::uintptr_t start, std::uintptr_t end) noexcept;

  // Frees a slot that add() gave. Call it before the range is unmapped: a
  // mapping made meanwhile on another thread may get the same addresses, and
  // its faults must not be taken for this one's.
  static void remove(sGuardSlot* slot) noexcept;

  // The slot whose range holds `address`, or nullptr. Safe in a signal
  // handler.
  sGuardSlot* find(std::uintptr_t address) const noexcept;

  // The blocks of slots the table holds (1 until more than
  // kGuardSlotsPerBlock ranges were registered at once).
  std::size_t blockCount() const noexcept;

 private:
  struct sBlock {
    std::array<sGuardSlot, kGuardSlotsPerBlock> slots;
    std::atomic<sBlock*> next{nullptr};
  };

  sBlock first_;
  std::atomic_flag growing_;  // held while a block is added (rarely: no mutex, which MinGW cannot make constant)
};

// The process's table, which the fault handlers consult.
cGuardedRanges& guardedRanges();

}  // namespace plimsy::platform::detail

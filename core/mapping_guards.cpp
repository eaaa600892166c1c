#include "core/mapping_guards.h"

#include <new>

namespace plimsy::platform::detail {
namespace {

// Claims a free slot of `block` for the range; nullptr when none is free.
template <typename Block>
sGuardSlot* claimIn(Block& block, std::uintptr_t start, std::uintptr_t end) {
  for (sGuardSlot& slot : block.slots) {
    std::uintptr_t free = 0;
    if (!slot.start.compare_exchange_strong(free, start)) continue;
    // The range counts once its end is set: until then no address lies in it.
    slot.damaged = false;
    slot.replaced = false;
    slot.end = end;
    return &slot;
  }
  return nullptr;
}

}  // namespace

cGuardedRanges::~cGuardedRanges() {
  sBlock* block = first_.next.load();
  while (block != nullptr) {
    sBlock* next = block->next.load();
    delete block;
    block = next;
  }
}

sGuardSlot* cGuardedRanges::add(std::uintptr_t start, std::uintptr_t end) noexcept {
  if (start == 0 || end <= start) return nullptr;
  for (;;) {
    sBlock* last = &first_;
    for (sBlock* block = &first_; block != nullptr; block = block->next.load()) {
      if (sGuardSlot* slot = claimIn(*block, start, end)) return slot;
      last = block;
    }
    // Every slot is taken: a new block, unless another thread adds one meanwhile.
    if (growing_.test_and_set()) {
      while (growing_.test()) growing_.wait(true);
      continue;
    }
    sGuardSlot* slot = nullptr;
    if (last->next.load() == nullptr) {
      auto* block = new (std::nothrow) sBlock;
      if (block != nullptr) {
        slot = claimIn(*block, start, end);
        last->next.store(block);  // published whole: the handler sees a complete block or none
      }
    }
    growing_.clear();
    growing_.notify_all();
    if (slot != nullptr || last->next.load() == nullptr) return slot;  // added, or no memory for a block
  }
}

void cGuardedRanges::remove(sGuardSlot* slot) noexcept {
  if (slot == nullptr) return;
  slot->end = 0;  // first: no address lies in it any more
  slot->start = 0;
}

sGuardSlot* cGuardedRanges::find(std::uintptr_t address) const noexcept {
  for (const sBlock* block = &first_; block != nullptr; block = block->next.load()) {
    for (const sGuardSlot& slot : block->slots) {
      const std::uintptr_t start = slot.start.load();
      if (start == 0 || address < start || address >= slot.end.load()) continue;
      return const_cast<sGuardSlot*>(&slot);
    }
  }
  return nullptr;
}

std::size_t cGuardedRanges::blockCount() const noexcept {
  std::size_t count = 0;
  for (const sBlock* block = &first_; block != nullptr; block = block->next.load()) ++count;
  return count;
}

cGuardedRanges& guardedRanges() {
  // Made before main (constant-initialised): a handler never meets it half built.
  static constinit cGuardedRanges ranges;
  return ranges;
}

}  // namespace plimsy::platform::detail

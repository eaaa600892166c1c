// The table of guarded mappings that the fault handlers (SIGBUS on POSIX,
// EXCEPTION_IN_PAGE_ERROR on Windows) look addresses up in, and the guard
// itself where a test can make a page disappear (a file shortened under its
// POSIX mapping).

#include "core/mapping_guards.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/platform.h"
#include "support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace plimsy::platform::detail {
namespace {

TEST(GuardedRanges, FindsTheRangeThatHoldsAnAddressAndNoOther) {
  cGuardedRanges ranges;
  sGuardSlot* low = ranges.add(0x10000, 0x13000);
  sGuardSlot* high = ranges.add(0x13000, 0x20001);
  ASSERT_NE(low, nullptr);
  ASSERT_NE(high, nullptr);
  const struct {
    std::uintptr_t address;
    sGuardSlot* slot;
  } cases[] = {
      {0xFFFF, nullptr}, {0x10000, low},     {0x12FFF, low}, {0x13000, high},
      {0x20000, high},   {0x20001, nullptr}, {0, nullptr},   {UINTPTR_MAX, nullptr},
  };
  for (const auto& c : cases) EXPECT_EQ(ranges.find(c.address), c.slot) << std::hex << c.address;
  // Nothing empty, nothing at address 0.
  EXPECT_EQ(ranges.add(0, 0x1000), nullptr);
  EXPECT_EQ(ranges.add(0x5000, 0x5000), nullptr);
}

// A slot freed before its range was unmapped is never taken for the mapping
// that gets the same addresses next: that one starts undamaged.
TEST(GuardedRanges, AFreedRangeIsNotFoundAndItsAddressesStartAfresh) {
  cGuardedRanges ranges;
  sGuardSlot* first = ranges.add(0x40000, 0x48000);
  first->damaged = true;
  first->replaced = true;
  cGuardedRanges::remove(first);
  EXPECT_EQ(ranges.find(0x40000), nullptr);
  sGuardSlot* second = ranges.add(0x40000, 0x44000);
  ASSERT_EQ(ranges.find(0x40000), second);
  EXPECT_FALSE(second->damaged);
  EXPECT_FALSE(second->replaced);
  EXPECT_EQ(ranges.find(0x44000), nullptr);
}

// More mappings at once than a block holds: every one is guarded (the table
// grows), and freed slots are used again before the table grows more.
TEST(GuardedRanges, GrowsBeyondABlockAndReusesFreedSlots) {
  cGuardedRanges ranges;
  constexpr std::size_t kRanges = 3 * kGuardSlotsPerBlock + 1;
  constexpr std::uintptr_t kBase = 0x100000;
  constexpr std::uintptr_t kStep = 0x2000;
  std::vector<sGuardSlot*> slots;
  for (std::size_t i = 0; i < kRanges; ++i) slots.push_back(ranges.add(kBase + i * kStep, kBase + i * kStep + 0x1000));
  EXPECT_EQ(ranges.blockCount(), 4u);
  for (std::size_t i = 0; i < kRanges; ++i) {
    ASSERT_NE(slots[i], nullptr) << i;
    EXPECT_EQ(ranges.find(kBase + i * kStep + 0xFFF), slots[i]) << i;
    EXPECT_EQ(ranges.find(kBase + i * kStep + 0x1000), nullptr) << i;
  }
  for (std::size_t i = 0; i < kRanges; i += 2) cGuardedRanges::remove(slots[i]);
  for (std::size_t i = 0; i < kRanges; i += 2)
    EXPECT_NE(ranges.add(0x90000000 + i * kStep, 0x90001000 + i * kStep), nullptr);
  EXPECT_EQ(ranges.blockCount(), 4u);
}

#ifndef _WIN32

namespace fs = std::filesystem;

// Maps a file of three pages of 'x' and shortens it to one page under the
// mapping: the last page is lost.
struct sShortenedMapping {
  explicit sShortenedMapping(const fs::path& path) {
    test::writeFile(path, std::string(3 * 4096, 'x'));
    EXPECT_TRUE(map.open(path.string()));
    fs::resize_file(path, 4096);
  }
  MappedFile map;
};

// The lost page reads as zeros and the mapping reports the damage; when the
// page of zeros cannot be placed (no room for one more mapping), the whole
// mapping reads as zeros instead, and is just as damaged: the process lives.
TEST(MappingGuard, ALostPageReadsAsZerosAndTheMappingIsDamaged) {
  const struct {
    const char* name;
    bool pagesFail;
    char firstByteAfter;
  } cases[] = {{"a page of zeros", false, 'x'}, {"zeros over the whole mapping", true, '\0'}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    sShortenedMapping shortened(dir.path() / "book.epub");
    ASSERT_TRUE(shortened.map.isOpen());
    failGuardZeroPages(c.pagesFail);
    const volatile std::uint8_t* data = shortened.map.data();
    EXPECT_EQ(data[2 * 4096 + 10], 0);
    failGuardZeroPages(false);
    EXPECT_EQ(static_cast<char>(data[0]), c.firstByteAfter);
    EXPECT_FALSE(shortened.map.unchanged());
    shortened.map.close();
  }
}

// Far more mappings at once than the first block of guards holds: the last
// one opened is guarded as the first.
TEST(MappingGuard, EveryOneOfManyMappingsIsGuarded) {
  test::TempDir dir;
  std::vector<std::unique_ptr<sShortenedMapping>> mappings;
  for (std::size_t i = 0; i < kGuardSlotsPerBlock + 44; ++i)
    mappings.push_back(std::make_unique<sShortenedMapping>(dir.path() / ("book" + std::to_string(i) + ".epub")));
  for (const std::size_t i : {std::size_t{0}, kGuardSlotsPerBlock, mappings.size() - 1}) {
    ASSERT_TRUE(mappings[i]->map.isOpen()) << i;
    const volatile std::uint8_t* data = mappings[i]->map.data();
    EXPECT_EQ(data[2 * 4096], 0) << i;
    EXPECT_FALSE(mappings[i]->map.unchanged()) << i;
  }
}

#else

// Windows refuses to shorten a file that it maps; only a program outside
// Windows can, and under Wine a Linux program does: the lost page raises a
// fault that the guard turns into zeros over the whole view (a lost USB stick
// or network share is the case on Windows itself; no test can pull one out).
TEST(MappingGuard, APageLostUnderTheViewReadsAsZerosAndTheViewIsDamaged) {
  test::TempDir dir;
  const std::filesystem::path path = dir.path() / "book.epub";
  test::writeFile(path, std::string(3 * 65536, 'x'));
  MappedFile map;
  ASSERT_TRUE(map.open(path.string()));
  // Wine's own export gives the file's Linux name.
  using UnixName = char*(CDECL*)(LPCWSTR);
  const auto unixName = reinterpret_cast<UnixName>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (unixName == nullptr) GTEST_SKIP() << "Not under Wine: Windows itself never lets a mapped file be shortened";
  char* name = unixName(path.wstring().c_str());
  ASSERT_NE(name, nullptr);
  const std::string linuxPath(name);
  ::HeapFree(::GetProcessHeap(), 0, name);
  std::wstring command = L"/usr/bin/truncate -s 1000 \"" + std::wstring(linuxPath.begin(), linuxPath.end()) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(L"/usr/bin/truncate", command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
    GTEST_SKIP() << "No Linux truncate to shorten the mapped file with";
  ::WaitForSingleObject(process.hProcess, INFINITE);
  ::CloseHandle(process.hProcess);
  ::CloseHandle(process.hThread);
  // Wine starts a Linux program on its own: wait until the file is shorter.
  std::error_code error;
  for (int look = 0; look < 100000 && std::filesystem::file_size(path, error) != 1000; ++look) ::Sleep(1);
  ASSERT_EQ(std::filesystem::file_size(path, error), 1000u) << "the file was not shortened";
  const volatile std::uint8_t* data = map.data();
  EXPECT_EQ(data[2 * 65536 + 5], 0);
  EXPECT_EQ(data[0], 0);  // the whole view reads as zeros now
  EXPECT_FALSE(map.unchanged());
  map.close();
}

#endif

}  // namespace
}  // namespace plimsy::platform::detail

// Machine code memory: never writable and executable at once, growing
// piece by piece up to its limit, and code written earlier still running
// after later blocks were written next to it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/address_space.h"
#include "script/native_code.h"
#include "script/native_memory.h"
#include "script/opcodes.h"
#include "script/vm.h"
#include "script/vm_asm.h"
#include "script/vm_translate.h"
#include "support/memory_map.h"

namespace talven::script {
namespace {

using test::memory_regions;

// The regions that are writable and executable at once, as text.
std::string writable_and_executable() {
  std::ostringstream out;
  for (const test::MemoryRegion& m : memory_regions()) {
    if (m.perms.size() >= 3 && m.perms[1] == 'w' && m.perms[2] == 'x')
      out << std::hex << m.start << "-" << m.end << " " << m.perms << "\n";
  }
  return out.str();
}

// The permissions of the region holding p ("" when none does).
std::string perms_at(const void* p) {
  const auto at = reinterpret_cast<std::uintptr_t>(p);
  for (const test::MemoryRegion& m : memory_regions()) {
    if (at >= m.start && at < m.end) return m.perms;
  }
  return "";
}

class VmNativeMemory : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!native_available()) GTEST_SKIP() << "no machine code on this host";
    if (!test::memory_map_readable()) GTEST_SKIP() << "no memory map to read on this host";
  }
  void TearDown() override {
    if (ctx_) {
      forget_translation(ctx_->program);
      vm_free(ctx_);
    }
  }
  // A chain of `blocks` blocks, each "add r0,1; cmp r0,0; je out", then
  // ret: r0 counts the blocks run.
  void make_chain(unsigned blocks) {
    const std::uint32_t size = blocks * 17 + 64;
    ctx_ = vm_create(static_cast<std::int32_t>(size), 4096);
    ASSERT_NE(ctx_, nullptr);
    VmAsm a(ctx_->program);
    auto out = a.label();
    for (unsigned k = 0; k < blocks; ++k) {
      a.addi(0, 1);
      a.cmpi(0, 0);
      a.je(out);
    }
    a.ret();
    a.bind(out);
    a.ret();
    ASSERT_TRUE(a.load());
  }
  void run_from_start() {
    ctx_->state = kVmRunning;
    ctx_->pc = ctx_->program;
    ctx_->r[0] = 0;
    ctx_->r[kRegStack] = ctx_->stack + 4096 - 8;
    ASSERT_TRUE(store32(ctx_->r[kRegStack], kReturnFinish));
    vm_stop_flag.clear();
    for (int i = 0; i < 1000000 && ctx_->state == kVmRunning; ++i) vm_run(ctx_);
  }
  VmContext* ctx_ = nullptr;
};

TEST_F(VmNativeMemory, ManyBlocksFillMoreThanOnePieceAndAllOfThemRunAgain) {
  constexpr unsigned kBlocks = 12000;
  make_chain(kBlocks);
  const std::size_t before = native_blocks_made();
  run_from_start();
  EXPECT_EQ(ctx_->state, kVmFinished);
  EXPECT_EQ(ctx_->r[0], kBlocks);
  EXPECT_GE(native_blocks_made() - before, kBlocks);
  Translation* t = translation_for(ctx_->program, ctx_->program_size);
  ASSERT_NE(t, nullptr);
  ASSERT_NE(t->arena, nullptr);
  EXPECT_GT(t->arena->bytes_mapped(), NativeArena::kPieceBytes);

  // Every block's code, in the first piece as in the last, is executable
  // and nothing is writable and executable at once.
  const Block* first = find_block(*t, ctx_->program);
  const Block* last = find_block(*t, ctx_->program + (kBlocks - 1) * 17);
  ASSERT_TRUE(first && first->native && last && last->native);
  EXPECT_EQ(perms_at(first->native).substr(0, 3), "r-x");
  EXPECT_EQ(perms_at(last->native).substr(0, 3), "r-x");
  EXPECT_EQ(writable_and_executable(), "");

  // The pages each block started in were written again for the block
  // after it; the code is run again without being made again.
  const std::size_t made = native_blocks_made();
  run_from_start();
  EXPECT_EQ(ctx_->state, kVmFinished);
  EXPECT_EQ(ctx_->r[0], kBlocks);
  EXPECT_EQ(native_blocks_made(), made);
}

TEST_F(VmNativeMemory, TheLimitIsThirtyTwoPiecesAndBiggerCodeIsRefused) {
  NativeArena arena;
  std::vector<std::uint8_t> piece(NativeArena::kPieceBytes, 0xCC);
  EXPECT_EQ(arena.add(piece.data(), piece.size() + 1), nullptr);
  for (std::size_t n = 0; n < NativeArena::kLimitBytes / NativeArena::kPieceBytes; ++n)
    ASSERT_NE(arena.add(piece.data(), piece.size()), nullptr) << n;
  EXPECT_EQ(arena.bytes_mapped(), NativeArena::kLimitBytes);
  const std::uint8_t one = 0xCC;
  EXPECT_EQ(arena.add(&one, 1), nullptr);
  EXPECT_FALSE(arena.broken());
  EXPECT_EQ(writable_and_executable(), "");
}

#if defined(__x86_64__)
TEST_F(VmNativeMemory, CodeAddedEarlierStillRunsAfterItsPageWasWrittenAgain) {
  // mov eax, n; ret - six bytes each, so most share a page with others.
  NativeArena arena;
  std::vector<int (*)()> fns;
  for (std::uint32_t n = 0; n < 3000; ++n) {
    std::uint8_t code[6] = {0xB8, 0, 0, 0, 0, 0xC3};
    std::memcpy(code + 1, &n, 4);
    void* at = arena.add(code, sizeof code);
    ASSERT_NE(at, nullptr);
    fns.push_back(reinterpret_cast<int (*)()>(at));
    // The first one, on the page written again and again, keeps working.
    ASSERT_EQ(fns.front()(), 0) << n;
  }
  for (std::uint32_t n = 0; n < fns.size(); ++n) ASSERT_EQ(fns[n](), static_cast<int>(n));
  EXPECT_EQ(perms_at(reinterpret_cast<void*>(fns.back())).substr(0, 3), "r-x");
  EXPECT_EQ(writable_and_executable(), "");
}
#endif

}  // namespace
}  // namespace talven::script

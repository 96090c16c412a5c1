// Typed builtin bindings: words decoded by parameter type, the argument
// count taken from the signature, exactly that many words read, unreadable
// blocks, and builtins run on the main thread (queued from script threads,
// at once on the main thread, 0 once closed).
#include "runtime/bind.h"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <thread>

#include "base/address_space.h"

namespace talven::runtime {
namespace {

struct Seen {
  int calls = 0;
  std::int32_t i = 0;
  float f = 0;
  Addr a = 0;
  std::uint32_t u = 0;
  std::thread::id thread;
};
Seen seen;

float mixed(std::int32_t i, float f, Addr a, std::uint32_t u) {
  seen.calls++;
  seen.i = i;
  seen.f = f;
  seen.a = a;
  seen.u = u;
  seen.thread = std::this_thread::get_id();
  return f * 2;
}
float same_float(float f) { return f; }
std::int32_t minus(std::int32_t i) { return -i; }
bool is_odd(std::uint32_t u) { return (u & 1) != 0; }
void nothing() { seen.calls++; }

// A block of words in script memory.
Addr block(std::initializer_list<std::uint32_t> words) {
  Addr a = script_alloc(static_cast<std::uint32_t>(4 * words.size()));
  std::uint32_t k = 0;
  for (std::uint32_t w : words) store32(a + 4 * k++, w);
  return a;
}

TEST(Binding, DecodesWordsByTypeEncodesResultsAndCountsParameters) {
  EXPECT_EQ(bind<&mixed>.argc, 4);
  EXPECT_EQ(bind<&nothing>.argc, 0);
  EXPECT_EQ(on_main_thread<&minus>.argc, 1);
  const BuiltinEntry row{1, "mixed", bind<&mixed>};
  EXPECT_EQ(row.argc, 4);

  seen = {};
  Addr args = block(
      {static_cast<std::uint32_t>(-5), std::bit_cast<std::uint32_t>(2.5f), 0x12345u, 0x80000000u});
  EXPECT_EQ(row.handler(args), std::bit_cast<std::uint32_t>(5.0f));
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.i, -5);
  EXPECT_EQ(seen.f, 2.5f);
  EXPECT_EQ(seen.a, 0x12345u);
  EXPECT_EQ(seen.u, 0x80000000u);

  // A NaN keeps its payload on the way in and out.
  store32(args, 0x7FC12345u);
  EXPECT_EQ(bind<&same_float>.handler(args), 0x7FC12345u);
  store32(args, 7);
  EXPECT_EQ(bind<&minus>.handler(args), 0xFFFFFFF9u);
  EXPECT_EQ(bind<&is_odd>.handler(args), 1u);
  store32(args, 8);
  EXPECT_EQ(bind<&is_odd>.handler(args), 0u);
  EXPECT_EQ(bind<&nothing>.handler(args), 0u);
  script_free(args);
}

TEST(Binding, ReadsExactlyItsWordsAndUnreadableBlocksReadAsZeros) {
  // One word before the end of script memory: a one-word handler reads it,
  // a four-word one finds its block unreadable and sees zeros. (An
  // allocation first, so that the space has an end to read up to.)
  const Addr held = script_alloc(16);
  ASSERT_NE(held, 0u);
  const Addr last = static_cast<Addr>(script_space().limit() - 4);
  ASSERT_TRUE(store32(last, 41));
  EXPECT_EQ(bind<&minus>.handler(last), static_cast<std::uint32_t>(-41));

  seen = {};
  seen.i = 99;
  seen.u = 99;
  EXPECT_EQ(bind<&mixed>.handler(last), 0u);  // 0.0f * 2
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.i, 0);
  EXPECT_EQ(seen.u, 0u);

  // bind_or answers its word instead and leaves the handler uncalled.
  seen = {};
  EXPECT_EQ((bind_or<&mixed, kMinusOne>.handler(last)), kMinusOne);
  EXPECT_EQ((bind_or<&mixed, kMinusOne>.handler(0xFFFFFF00u)), kMinusOne);
  EXPECT_EQ(seen.calls, 0);
  EXPECT_EQ((bind_or<&minus, kMinusOne>.handler(last)), static_cast<std::uint32_t>(-41));
  script_free(held);
}

std::int32_t add(std::int32_t a, std::int32_t b) {
  seen.calls++;
  seen.thread = std::this_thread::get_id();
  return a + b;
}

TEST(Binding, MainThreadBuiltinsRunOnTheMainThreadAndAnswerZeroOnceClosed) {
  bind_main_thread();
  open_main_thread_calls();
  const std::thread::id main_id = std::this_thread::get_id();
  Addr args = block({40, 2});

  // On the main thread: at once, nothing to serve.
  seen = {};
  EXPECT_EQ(on_main_thread<&add>.handler(args), 42u);
  EXPECT_EQ(seen.thread, main_id);
  EXPECT_EQ(serve_main_thread_calls(), 0);

  // From a script thread: the caller waits until the main loop serves it;
  // its words were read on the calling thread.
  seen = {};
  std::atomic<std::uint32_t> result{0};
  std::atomic<bool> done{false};
  std::thread script([&] {
    result = on_main_thread<&add>.handler(args);
    done = true;
  });
  int served = 0;
  while (!done) served += serve_main_thread_calls();
  script.join();
  EXPECT_EQ(served, 1);
  EXPECT_EQ(result.load(), 42u);
  EXPECT_EQ(seen.thread, main_id);

  // From inside a handler, with values rather than a block, and the
  // function's own result type back.
  std::atomic<std::int32_t> sum{0};
  std::thread helper([&] {
    sum = call_on_main_thread<&add>(-3, 1);
    done = false;
  });
  while (done) serve_main_thread_calls();
  helper.join();
  EXPECT_EQ(sum.load(), -2);
  EXPECT_TRUE(call_on_main_thread<&is_odd>(3u));

  // Closed: 0 at once on every thread, the function never runs.
  close_main_thread_calls();
  seen = {};
  EXPECT_EQ(on_main_thread<&add>.handler(args), 0u);
  std::thread late([&] { result = on_main_thread<&add>.handler(args); });
  late.join();  // answered without the main thread serving
  EXPECT_EQ(result.load(), 0u);
  EXPECT_EQ(call_on_main_thread<&add>(1, 1), 0);
  EXPECT_FALSE(call_on_main_thread<&is_odd>(3u));
  EXPECT_EQ(seen.calls, 0);

  open_main_thread_calls();
  script_free(args);
}

}  // namespace
}  // namespace talven::runtime

// The input builtins in-process on a started headless device, through the
// bindings the builtin table holds: results and records through script
// memory, the polling builtins on the main thread, and hostile argument words that must never crash
// or write outside the records.
#include <gtest/gtest.h>

#include <random>

#include "base/address_space.h"
#include "base/config.h"
#include "input/input_state.h"
#include "input/input_builtins.h"
#include "runtime/bind.h"
#include "runtime/main_thread.h"

namespace {

using namespace talven;
using namespace talven::input;

class InputBuiltins : public ::testing::Test {
 protected:
  void SetUp() override {
    config() = Config{};
    config().Width = 640;
    config().Height = 480;
    input::set_input_focus(true);
    input::mouse_state().reset();
    input::char_ring().clear();
    runtime::bind_main_thread();  // main-thread calls are served inline
    runtime::open_main_thread_calls();
    ASSERT_TRUE(input_start({}));
    args_ = script_zalloc(64);
    record_ = script_zalloc(512);
  }
  void TearDown() override {
    input_shutdown();
    script_free(args_);
    script_free(record_);
  }
  std::uint32_t call(runtime::BuiltinBinding bound, std::uint32_t a = 0, std::uint32_t b = 0) {
    store32(args_, a);
    store32(args_ + 4, b);
    return bound.handler(args_);
  }
  Addr args_ = 0, record_ = 0;
};

TEST_F(InputBuiltins, RecordsComeBackThroughScriptMemory) {
  std::uint8_t* rec = span(record_, 512);
  std::memset(rec, 0xEE, 512);
  EXPECT_EQ(call(runtime::on_main_thread<&bi_getkey>, record_), 1u);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(rec[i], 0) << i;
  EXPECT_EQ(rec[256], 0xEE);  // nothing past the 256 bytes

  std::memset(rec, 0xEE, 512);
  EXPECT_EQ(call(runtime::on_main_thread<&bi_getjoy>, 4, record_), 0u);
  EXPECT_EQ(load32(record_).value_or(1), 0u);
  EXPECT_EQ(load32(record_ + 8).value_or(1), 0u);
  EXPECT_EQ(rec[12], 0xEE);

  input::mouse_state().press(input::kMouseRight, false);
  EXPECT_EQ(call(runtime::on_main_thread<&bi_getmouse>, record_), 1u);
  EXPECT_EQ(load32(record_ + 12).value_or(0), 2u);
  EXPECT_EQ(call(runtime::bind<&bi_getpoint>, record_), 1u);
  EXPECT_EQ(load32(record_ + 12).value_or(0), (1u << 17) | 2u);

  input::set_input_focus(false);
  std::memset(rec, 0xEE, 512);
  EXPECT_EQ(call(runtime::on_main_thread<&bi_getmouse>, record_), 0u);
  EXPECT_EQ(load32(record_ + 12).value_or(1), 0u);
  EXPECT_EQ(call(runtime::bind<&bi_getpoint>, record_), 1u);
  EXPECT_EQ(load32(record_).value_or(0), 0xFFFFFFFFu);

  input::char_ring().push(0xFF);
  EXPECT_EQ(call(runtime::bind<&bi_key_get>), 0xFFFFFFFFu);  // -1: sign-extended
  EXPECT_EQ(call(runtime::bind<&bi_key_get>), 0u);
}

TEST_F(InputBuiltins, HostileArgumentsNeverCrash) {
  const runtime::BuiltinBinding all[] = {runtime::on_main_thread<&bi_getkey>,
                                         runtime::on_main_thread<&bi_getjoy>,
                                         runtime::on_main_thread<&bi_getmouse>,
                                         runtime::bind<&bi_getpoint>,
                                         runtime::bind<&bi_cur_set>,
                                         runtime::bind<&bi_cur_clip>,
                                         runtime::bind<&bi_cur_setpos>,
                                         runtime::bind<&bi_key_init>,
                                         runtime::bind<&bi_key_get>};
  std::mt19937 rng(7);
  const Addr end = static_cast<Addr>(script_space().limit());
  const std::uint32_t pool[] = {
      0,           1,       4,       12,       0xFFFF,    0x10000,       0xFFFFFFFFu, 0x80000000u,
      0x7FFFFFFFu, end - 1, end - 4, end - 16, end - 255, record_ + 500, 3,           1000};
  for (int round = 0; round < 2000; ++round) {
    for (int i = 0; i < 4; ++i)
      store32(args_ + 4 * i, pool[rng() % (sizeof pool / sizeof pool[0])]);
    all[rng() % 9].handler(args_);
  }
  // A record that would end past the script memory is refused whole.
  EXPECT_EQ(call(runtime::on_main_thread<&bi_getkey>, end - 255), 0u);
  EXPECT_EQ(call(runtime::on_main_thread<&bi_getmouse>, end - 15), 0u);
  EXPECT_EQ(call(runtime::on_main_thread<&bi_getjoy>, 0, end - 11), 0u);
}

}  // namespace

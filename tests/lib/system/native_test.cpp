// Native libraries: a C library function, the example library built from
// examples/native with the system compiler, stale handles and the access
// table's layout against the header game authors use.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <filesystem>

#include "../../../sdk/talven_native.h"
#include "base/config.h"
#include "lib/builtin_call.h"
#include "lib/system/native_api.h"
#include "lib/system/native_calls.h"
#include "lib/system/system_builtins.h"
#include "support/run_binary.h"

namespace {

namespace fs = std::filesystem;
using namespace talven;
using namespace talven::lib;
using lib::test::bind;
using lib::test::call;
using lib::test::put;

const fs::path kSource = fs::path(TALVEN_TEST_DATA).parent_path().parent_path();

// A library every host has, holding the C library's abs.
#ifdef _WIN32
const char* const kCLibrary = "msvcrt.dll";
#else
const char* const kCLibrary = "libc.so.6";
#endif

std::int32_t call_words(std::uint32_t f, std::initializer_list<std::uint32_t> w) {
  std::vector<std::uint32_t> v(w);
  return static_cast<std::int32_t>(system::dll_call(f, v.data(), v.size()));
}

TEST(NativeApi, LayoutMatchesTheHeader) {
  static_assert(sizeof(talven_native_api) == sizeof(system::NativeApi));
  static_assert(offsetof(talven_native_api, span) == offsetof(system::NativeApi, span));
  static_assert(offsetof(talven_native_api, string) == offsetof(system::NativeApi, string));
  static_assert(offsetof(talven_native_api, address_of) == offsetof(system::NativeApi, address_of));
  static_assert(offsetof(talven_native_api, alloc) == offsetof(system::NativeApi, alloc));
  static_assert(offsetof(talven_native_api, release) == offsetof(system::NativeApi, release));
  EXPECT_EQ(TALVEN_NATIVE_VERSION, system::kNativeApiVersion);
  // The checked access refuses what is not script memory.
  const system::NativeApi& api = system::native_api();
  Addr a = put("text");
  EXPECT_NE(api.span(a, 5), nullptr);
  EXPECT_EQ(api.span(0, 1), nullptr);
  EXPECT_EQ(api.span(lib::test::bad_address(), 4), nullptr);
  EXPECT_STREQ(api.string(a, 100), "text");
  EXPECT_EQ(api.string(a, 2), nullptr);  // no zero within 2 bytes
  EXPECT_EQ(api.address_of(api.span(a, 1)), a);
  int host_local = 0;
  EXPECT_EQ(api.address_of(&host_local), 0u);
}

TEST(NativeLibraries, TheCLibrary) {
  const std::int32_t slot = static_cast<std::int32_t>(call(bind<&bi_dll_load>, {put(kCLibrary)}));
  ASSERT_GE(slot, 0);
  const std::uint32_t abs_fn =
      call(bind<&bi_dll_proc>, {static_cast<std::uint32_t>(slot), put("abs")});
  ASSERT_NE(abs_fn, 0u);
  EXPECT_EQ(call_words(abs_fn, {static_cast<std::uint32_t>(-1234)}), 1234);
  EXPECT_EQ(call(bind<&bi_dll_proc>, {static_cast<std::uint32_t>(slot), put("abs")}),
            abs_fn);  // same handle
  EXPECT_EQ(call(bind<&bi_dll_proc>, {static_cast<std::uint32_t>(slot), put("no_such_function_x")}),
            0u);
  EXPECT_EQ(call(bind<&bi_dll_proc>, {static_cast<std::uint32_t>(slot), 0}), 0u);
  EXPECT_EQ(call(bind<&bi_dll_proc>, {300, put("abs")}), 0u);
  EXPECT_EQ(call_words(0, {1, 2}), 0);
  EXPECT_EQ(call_words(abs_fn + 1000, {1}), 0);  // never handed out
  EXPECT_EQ(call(bind<&bi_dll_unload>, {static_cast<std::uint32_t>(slot)}), 1u);
  EXPECT_EQ(call(bind<&bi_dll_unload>, {static_cast<std::uint32_t>(slot)}), 0u);
  EXPECT_EQ(call(bind<&bi_dll_unload>, {256}), 0u);
  // The handle died with its module, even when the slot is taken again.
  ASSERT_EQ(static_cast<std::int32_t>(call(bind<&bi_dll_load>, {put(kCLibrary)})), slot);
  EXPECT_EQ(call_words(abs_fn, {static_cast<std::uint32_t>(-5)}), 0);
  EXPECT_EQ(call(bind<&bi_dll_load>, {put("no_such_library.dll")}), 0xFFFFFFFFu);
  EXPECT_EQ(call(bind<&bi_dll_load>, {0}), 0xFFFFFFFFu);
  system::dll_release_all();
}

TEST(NativeLibraries, SlotsRunOut) {
  for (int i = 0; i < system::kDllSlots; ++i) ASSERT_EQ(system::dll_load(kCLibrary), i);
  EXPECT_EQ(system::dll_load(kCLibrary), -1);
  EXPECT_TRUE(system::dll_unload(17));
  EXPECT_EQ(system::dll_load(kCLibrary), 17);  // the lowest free slot
  system::dll_release_all();
  EXPECT_EQ(system::dll_load(kCLibrary), 0);
  system::dll_release_all();
}

TEST(NativeLibraries, TheExampleLibraryBesideTheGame) {
  if (!talven::test::have_tool("cc")) GTEST_SKIP() << "no C compiler to build the example with";
  const fs::path dir = fs::temp_directory_path() / ("talven_native_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string cmd = "cc -shared -fPIC -I" + (kSource / "sdk").string() + " " +
                          (kSource / "examples/native/example_native.c").string() + " -o " +
                          (dir / "example.so").string();
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  Config& c = config();
  const std::string saved = c.module_dir;
  c.module_dir = dir.string() + "/";

  const std::int32_t slot =
      static_cast<std::int32_t>(call(bind<&bi_dll_load>, {put("Example.DLL")}));
  ASSERT_GE(slot, 0);
  auto proc = [&](const char* name) {
    return call(bind<&bi_dll_proc>, {static_cast<std::uint32_t>(slot), put(name)});
  };
  EXPECT_EQ(call_words(proc("answer"), {}), 42);
  EXPECT_EQ(call_words(proc("mul_add"), {6, 7, static_cast<std::uint32_t>(-2)}), 40);
  Addr data = lib::test::block(4, 0);
  const std::uint8_t bytes[4] = {1, 2, 250, 3};
  write_bytes(data, bytes, 4);
  EXPECT_EQ(call_words(proc("sum_bytes"), {data, 4}), 256);
  EXPECT_EQ(call_words(proc("sum_bytes"), {lib::test::bad_address(), 4}), -1);
  EXPECT_EQ(call_words(proc("sum_bytes"), {0, 4}), -1);
  Addr text = put("Hello, world");
  EXPECT_EQ(call_words(proc("upper_text"), {text}), 12);
  EXPECT_EQ(lib::test::text_at(text), "HELLO, WORLD");
  EXPECT_EQ(call_words(proc("upper_text"), {12345}), -1);
  EXPECT_EQ(system::dll_call(proc("answer"), nullptr, system::kMaxCallWords + 1), 0u);

  c.module_dir = saved;
  system::dll_release_all();
  fs::remove_all(dir);
}

}  // namespace

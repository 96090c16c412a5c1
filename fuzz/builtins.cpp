// Every builtin with hostile argument words: null, low, past-the-end and
// wrapping addresses, scratch memory of the input's bytes, huge counts.
// File-touching builtins work in a scratch folder; builtins that start
// programs, load native libraries or open network links are left out.
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string_view>

#include "base/address_space.h"
#include "fuzz_common.h"
#include "graphics/plane/plane.h"
#include "graphics/sprite/sprite.h"
#include "runtime/builtins.h"
#include "runtime/main_thread.h"
#include "runtime/trap.h"
#include "script/vm.h"
#include "storage/file_builtins.h"

namespace {

bool left_out(std::string_view name) {
  for (std::string_view n : {"kf_calc", "exec", "shell", "dll_load", "dll_proc", "dll_call",
                             "net_open", "mbox", "wallpaper", "clip_write"})
    if (name == n) return true;
  return false;
}

// Script memory that is once committed stays valid, so one input that
// allocates gigabytes would let every later input work on all of it and the
// run would slow to a crawl. Inputs that ask the allocating builtins for
// more than 16 MiB, or the compressing and checksumming ones to read more,
// are skipped.
bool allocates_too_much(std::string_view name, const std::uint32_t* w) {
  constexpr std::uint64_t kLimit = 16u << 20;
  if (name == "malloc" || name == "calloc" || name == "realloc")
    return w[0] > kLimit || w[1] > kLimit || std::uint64_t(w[0]) * w[1] > kLimit;
  if (name == "galloc") return std::uint64_t(w[1]) * w[2] * 4 > kLimit;
  // Compressing or checksumming hundreds of megabytes of committed memory
  // outlasts the per-input timeout of an instrumented build; it is the same
  // code on less.
  if (name == "pack_save" || name == "sysfile" || name == "memswap") return w[2] > kLimit;
  if (name == "crc16" || name == "crc32") return w[1] > kLimit;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace talven;
  fuzz::quiet();
  static script::VmContext* ctx = [] {
    namespace fs = std::filesystem;
    const fs::path dir =
        fs::temp_directory_path() / ("talven_fuzz_builtins_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    fs::current_path(dir);
    config().FileSystem = 3;
    runtime::bind_main_thread();  // calls for the main thread are served inline
    return script::vm_create(4096, 4096);
  }();
  static const Addr scratch = script_alloc(8192);
  static const Addr args = script_alloc(64);
  if (!ctx || size < 3) return 0;
  const std::size_t n = 10 + (data[0] | (data[1] << 8)) % (runtime::kBuiltinCount - 10);
  const runtime::BuiltinEntry& e = runtime::builtin_table[n];
  if (left_out(e.name)) return 0;
  // Scratch memory takes the input's bytes; the argument words come from it
  // too, each shaped by a selector byte.
  std::uint8_t* p = span(scratch, 8192);
  std::memset(p, 0, 8192);
  std::memcpy(p, data + 2, std::min<std::size_t>(size - 2, 8191));
  const std::uint8_t* in = data + 2;
  std::size_t left = size - 2;
  auto take = [&](std::size_t k) -> std::uint32_t {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < k && left > 0; ++i, --left) v = (v << 8) | *in++;
    return v;
  };
  std::uint32_t words[16];
  for (int i = 0; i < 16; ++i) {
    std::uint32_t w;
    switch (take(1) % 6) {
      case 0: w = take(1); break;
      case 1: w = scratch + take(2) % 8192; break;
      case 2: w = take(4); break;
      case 3: w = static_cast<std::uint32_t>(script_space().limit()) - take(1) % 64; break;
      case 4: w = 0xFFFFFFFFu - take(1); break;
      default: w = take(2); break;
    }
    store32(args + 4 * i, w);
    words[i] = w;
  }
  if (allocates_too_much(e.name, words)) return 0;
  {
    std::lock_guard lock(runtime::builtin_lock);
    runtime::current_context = ctx;
    ctx->state = script::kVmRunning;
    e.handler(args);
    runtime::current_context = nullptr;
  }
  script::vm_stop_flag.clear();
  graphics::reset_planes();
  return 0;
}

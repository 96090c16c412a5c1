// The interpreter on raw program images: whatever the bytes, it stops with a
// result or an error of its own and never reaches outside script memory.
#include <cstring>

#include "fuzz_common.h"
#include "script/vm.h"

namespace {
int ignore_traps(std::uint16_t, talven::script::VmContext*) { return 0; }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace talven;
  using namespace talven::script;
  fuzz::quiet();
  vm_set_trap_handler(ignore_traps);
  if (size < 32) return 0;
  VmContext* c = vm_create(4096, 4096);
  if (!c) return 0;
  write_bytes(c->program, data + 32, static_cast<std::uint32_t>(std::min<std::size_t>(size - 32, 4096)));
  // The first 32 bytes seed the registers, aimed into the stack or program half the time.
  for (int r = 0; r < 6; ++r) {
    std::uint32_t v;
    std::memcpy(&v, data + 4 * r, 4);
    c->r[r] = (v & 1) ? v : (v & 2 ? c->stack : c->program) + (v >> 2) % 4096;
  }
  vm_stop_flag.clear();
  for (int slice = 0; slice < 64 && c->state == kVmRunning && !vm_stop_flag.is_set(); ++slice) vm_run(c);
  vm_free(c);
  vm_stop_flag.clear();
  return 0;
}

// The interpreter on raw program images: whatever the bytes, it stops with a
// result or an error of its own and never reaches outside script memory.
// Each image runs twice, stepped from the image and through the blocks
// (with their machine code), and both runs must leave the same state.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_common.h"
#include "script/disasm.h"
#include "script/vm.h"
#include "script/vm_translate.h"

namespace {

int ignore_traps(std::uint16_t, talven::script::VmContext*) { return 0; }

// The whole committed script memory is kept: code may write anywhere in it.
struct State {
  std::vector<std::uint8_t> memory;
  std::uint32_t r[8];
  std::uint32_t pc, state;
  bool zf, lf, bf;
};

State take(const talven::script::VmContext* c) {
  using namespace talven;
  State s;
  const auto size = static_cast<std::uint32_t>(script_space().limit() - kLowLimit);
  const std::uint8_t* p = span(kLowLimit, size);
  s.memory.assign(p, p + size);
  std::memcpy(s.r, c->r, sizeof s.r);
  s.pc = c->pc;
  s.state = static_cast<std::uint32_t>(c->state);
  s.zf = c->zero_flag;
  s.lf = c->less_flag;
  s.bf = c->below_flag;
  return s;
}

void put(talven::script::VmContext* c, const State& s) {
  using namespace talven;
  std::memcpy(span(kLowLimit, static_cast<std::uint32_t>(s.memory.size())), s.memory.data(),
              s.memory.size());
  std::memcpy(c->r, s.r, sizeof s.r);
  c->pc = s.pc;
  c->state = static_cast<std::uint8_t>(s.state);
  c->zero_flag = s.zf;
  c->less_flag = s.lf;
  c->below_flag = s.bf;
}

bool same(const State& a, const State& b) {
  return a.memory == b.memory && std::memcmp(a.r, b.r, sizeof a.r) == 0 && a.pc == b.pc &&
         a.state == b.state && a.zf == b.zf && a.lf == b.lf && a.bf == b.bf;
}

void show(const char* name, const State& s) {
  std::fprintf(stderr, "%s: state %u pc %08X flags %d%d%d r", name, s.state, s.pc, s.zf, s.lf,
               s.bf);
  for (std::uint32_t v : s.r) std::fprintf(stderr, " %08X", v);
  std::fprintf(stderr, "\n");
}

void show_difference(const State& a, const State& b) {
  show("stepped", a);
  show("blocks ", b);
  for (std::size_t i = 0; i < std::min(a.memory.size(), b.memory.size()); ++i) {
    if (a.memory[i] != b.memory[i]) {
      std::fprintf(stderr, "byte at %08zX: %02X / %02X\n", i + talven::kLowLimit, a.memory[i],
                   b.memory[i]);
      break;
    }
  }
}

void run(talven::script::VmContext* c) {
  using namespace talven::script;
  vm_stop_flag.clear();
  for (int slice = 0; slice < 64 && c->state == kVmRunning && !vm_stop_flag.is_set(); ++slice)
    vm_run(c);
  vm_stop_flag.clear();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace talven;
  using namespace talven::script;
  fuzz::quiet();
  vm_set_trap_handler(ignore_traps);
  // One context for every input, and script memory put back to how it was
  // after its creation, so that each input runs from the same state (and a
  // saved input reproduces on its own).
  static VmContext* const c = vm_create(4096, 4096);
  static const State fresh = c ? take(c) : State{};
  if (size < 32 || !c) return 0;
  put(c, fresh);
  const std::uint64_t now = script_space().limit() - kLowLimit;
  if (now > fresh.memory.size()) {
    std::memset(span(static_cast<Addr>(kLowLimit + fresh.memory.size()), 1), 0,
                now - fresh.memory.size());
  }
  write_bytes(c->program, data + 32,
              static_cast<std::uint32_t>(std::min<std::size_t>(size - 32, 4096)));
  // The first 32 bytes seed the registers, aimed into the stack or program half the time.
  for (int r = 0; r < 6; ++r) {
    std::uint32_t v;
    std::memcpy(&v, data + 4 * r, 4);
    c->r[r] = (v & 1) ? v : (v & 2 ? c->stack : c->program) + (v >> 2) % 4096;
  }
  const State start = take(c);
  set_translation_enabled(false);
  run(c);
  const State stepped = take(c);
  put(c, start);
  forget_all_translations();
  set_translation_enabled(true);
  run(c);
  const State blocks = take(c);
  if (!same(stepped, blocks)) {  // the blocks disagree with the image
    show_difference(stepped, blocks);
    put(c, start);
    std::fprintf(stderr, "program at start:\n%s", disassemble_range(c->program, 256).c_str());
    std::abort();
  }
  return 0;
}

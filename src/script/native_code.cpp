// Machine code for pre-decoded blocks: the CPU-neutral part (what is
// compiled, where it goes, the gate, the switch and the count).
#include "script/native_code.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "script/frame_window.h"
#include "script/native_backend.h"
#include "script/native_memory.h"
#include "script/opcodes.h"
#include "script/vm_translate.h"

namespace talven::script {

namespace native {

namespace {

// Width of the frame slot a frame-form instruction reaches (0: none).
int frame_width(std::uint8_t op) {
  switch (op) {
    case OP_MOVBL_FRAME:
    case OP_MOVSBL_FRAME:
    case OP_MOVB_FRAME:
    case OP_ZEROB_FRAME: return 1;
    case OP_MOVWL_FRAME:
    case OP_MOVSWL_FRAME:
    case OP_MOVW_FRAME:
    case OP_ZEROW_FRAME: return 2;
    case OP_MOVL_LOAD_FRAME:
    case OP_MOVL_STORE_FRAME:
    case OP_ZEROL_FRAME: return 4;
    default: return 0;
  }
}

// Whether an instruction may change r6: it names r6, or opens or closes
// a frame. Its own frame slot is still reached with r6 as before it.
bool may_change_frame(const Insn& i) {
  const OperandForm form = kOpInfo[i.op].form;
  const bool names_r6 =
      (form == OperandForm::R || form == OperandForm::RI) && (i.d == kRegFrame || i.s == kRegFrame);
  return names_r6 || i.op == OP_ENTER || i.op == OP_LEAVE;
}

// The frame window of plan.insns: the slots in reach reached before the
// first instruction that may change r6.
void find_window(BlockPlan& plan) {
  std::int64_t lo = 0, hi = 0;
  bool any = false;
  for (BlockInsn& i : plan.insns) {
    const int width = frame_width(i.op);
    const auto disp = static_cast<std::int64_t>(static_cast<std::int32_t>(i.imm));
    if (width && frame_slot_in_reach(disp, disp + width)) {
      i.in_window = true;
      lo = any ? std::min(lo, disp) : disp;
      hi = any ? std::max(hi, disp + width) : disp + width;
      any = true;
    }
    if (may_change_frame(i)) break;
  }
  plan.window_lo = any ? static_cast<std::int32_t>(lo) : 0;
  plan.window_len = any ? static_cast<std::uint32_t>(hi - lo) : 0;
}

}  // namespace

bool plan_block(Block& b, BlockPlan& plan) {
  plan = BlockPlan{};
  plan.block = &b;
  plan.start = b.start;
  plan.count = b.count;
  // A block ending in a builtin call (call W; W: trap n; ret) is compiled
  // up to the call; the interpreter makes the call (kNativeTrapCall).
  const bool trap_call = !b.ops.empty() && b.ops.back().kind == BK_CALL_TRAP_RET;
  const std::size_t segments = b.segments.size() - (trap_call ? 1 : 0);
  // The block's instructions, from the copy it was made from.
  const std::uint8_t* copy = b.bytes.data();
  unsigned index = 0;
  for (std::size_t n = 0; n < segments; ++n) {
    const Segment& seg = b.segments[n];
    std::uint32_t off = 0;
    while (off < seg.length) {
      BlockInsn i;
      if (!decode_instruction(copy + off, seg.length - off, i)) return false;
      i.pc = seg.start + off;
      i.next = i.pc + i.length;
      i.index = index++;
      off += i.length;
      i.followed = i.op == OP_JMP && off == seg.length && n + 1 < segments;
      plan.insns.push_back(i);
    }
    copy += seg.length;
    plan.end = seg.start + seg.length;
  }
  if (trap_call) {
    // The call itself and the wrapper's two instructions.
    if (plan.insns.empty() || plan.insns.back().op != OP_CALL) return false;
    plan.insns.back().trap_call = true;
    index += 2;
  }
  if (index != b.count) return false;
  find_window(plan);
  return true;
}

const BlockOffsets& block_offsets() {
  // Block is not standard-layout: the offsets are measured on an instance.
  static const BlockOffsets offsets = [] {
    Block b;
    auto at = [&](const void* p) {
      return static_cast<std::int32_t>(static_cast<const char*>(p) -
                                       reinterpret_cast<const char*>(&b));
    };
    return BlockOffsets{at(&b.start), at(&b.stamp), at(&b.taken), at(&b.fall), at(&b.native)};
  }();
  return offsets;
}

namespace {

std::atomic<bool> g_enabled{true};
std::atomic<std::size_t> g_made{0};

// The entry and exit sequence, shared by all threads.
struct Gate {
  void (*enter)(NativeState*, void*) = nullptr;
  const void* exit = nullptr;
  CodeFrame frame;  // what its entry pushed
};

const Gate& gate() {
  static const Gate g = [] {
    Gate out;
#if TALVEN_NATIVE_CPU
    std::vector<std::uint8_t> code;
    std::size_t exit_at = 0;
    CodeFrame frame;
    if (!cpu_build_gate(code, exit_at, frame)) return out;
    auto* p = static_cast<std::uint8_t*>(publish_sealed_code(code.data(), code.size(), frame));
    if (!p) return out;
    out.enter = reinterpret_cast<void (*)(NativeState*, void*)>(p);
    out.exit = p + exit_at;
    out.frame = std::move(frame);
#endif
    return out;
  }();
  return g;
}

}  // namespace

const CodeFrame& gate_frame() { return gate().frame; }

}  // namespace native

bool native_available() {
  return code_pages::machine_code_allowed() && native::g_enabled.load(std::memory_order_relaxed) &&
         native::gate().enter != nullptr;
}

void set_native_enabled(bool on) { native::g_enabled.store(on, std::memory_order_relaxed); }

std::size_t native_blocks_made() { return native::g_made.load(std::memory_order_relaxed); }

void* native_compile(Translation& t, Block& b) {
#if TALVEN_NATIVE_CPU
  if (b.count == 0 || !native_available()) return nullptr;
  native::BlockPlan plan;
  if (!native::plan_block(b, plan)) return nullptr;
  std::vector<std::uint8_t> code;
  if (!native::cpu_lower_block(plan, code)) return nullptr;
  if (!t.arena) t.arena = new NativeArena;
  void* at = t.arena->add(code.data(), code.size());
  if (!at && t.arena->broken()) {
    // Earlier code may have lost its execute permission: none of it runs
    // again (its blocks stay interpreted).
    for (Block& other : t.blocks) other.native = nullptr;
  }
  if (at) native::g_made.fetch_add(1, std::memory_order_relaxed);
  return at;
#else
  (void)t;
  (void)b;
  return nullptr;
#endif
}

void native_run(NativeState* st, void* entry) {
  const native::Gate& g = native::gate();
  st->exit_code = g.exit;
  g.enter(st, entry);
}

void native_arena_free(NativeArena* arena) { delete arena; }

}  // namespace talven::script

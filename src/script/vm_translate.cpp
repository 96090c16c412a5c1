// Decoding script code into blocks of pre-decoded operations.
#include "script/vm_translate.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>

#include "script/frame_window.h"
#include "script/opcodes.h"
#include "script/thread_exit.h"

namespace talven::script {

namespace {

// A thread keeps translations of the few program areas it runs; when it
// has run more, they are all dropped and rebuilt as needed.
constexpr std::size_t kMaxTranslations = 16;

using TranslationList = std::vector<std::unique_ptr<Translation>>;

// The calling thread's translations, freed as the thread ends
// (script/thread_exit.h says why not by a thread_local's destructor).
TranslationList& thread_translations() {
  thread_local TranslationList* list = nullptr;
  if (!list) {
    list = new TranslationList;
    at_thread_exit([](void* p) { delete static_cast<TranslationList*>(p); }, list);
  }
  return *list;
}

std::atomic<bool> g_enabled{true};

// Decodes the instruction at `at` when it lies wholly inside the program
// area and its register byte is valid; false otherwise (the interpreter
// then steps it and raises whatever error it gives).
bool decode(const Translation& t, const std::uint8_t* base, Addr at, Insn& out) {
  const std::uint32_t off = at - t.program;
  if (off >= t.size) return false;
  return decode_instruction(base + at, t.size - off, out);
}

bool is_load_frame(const Insn& i) { return i.op == OP_MOVL_LOAD_FRAME; }
bool is_imm(const Insn& i) { return i.op == OP_MOVL_IMM || i.op == OP_MOVL_ADDR; }

// Instructions after which a block ends: they choose the next pc or leave
// the interpreter (every instruction that can change pc belongs here).
bool ends_block(std::uint8_t op) {
  return op == OP_JMP || is_jcc(op) || op == OP_CALL || op == OP_CALL_REG || op == OP_RET ||
         op == OP_TRAP;
}

// Tries to fuse the instructions in `in` (n of them decoded) into one op.
// Returns how many instructions the op covers (0: none fused).
unsigned fuse(const Insn* in, unsigned n, TOp& op) {
  // movl rA,[r6+a] / movl rA,imm; movl rB,[r6+b]; sub rB,rA [; jcc]
  if (n >= 3 && (is_load_frame(in[0]) || is_imm(in[0])) && is_load_frame(in[1]) &&
      in[2].op == OP_SUB && in[2].d == in[1].d && in[2].s == in[0].d) {
    op.d = in[0].d;
    op.s = in[1].d;
    op.a = in[0].imm;
    op.b = in[1].imm;
    const bool load = is_load_frame(in[0]);
    if (n >= 4 && is_jcc(in[3].op)) {
      op.kind = load ? BK_LOAD2_SUB_JCC : BK_IMM_LOAD_SUB_JCC;
      op.c = in[3].imm;
      op.mask = jump_mask(in[3].op);
      return 4;
    }
    if (!load) {
      op.kind = BK_IMM_LOAD_SUB;
      return 3;
    }
  }
  // movl rA,[r6+a]; movl rB,[r6+b]; add rB,rA [; a load or store through rB]
  if (n >= 3 && is_load_frame(in[0]) && is_load_frame(in[1]) && in[2].op == OP_ADD &&
      in[2].d == in[1].d && in[2].s == in[0].d) {
    op.kind = BK_LOAD2_ADD;
    op.d = in[0].d;
    op.s = in[1].d;
    op.a = in[0].imm;
    op.b = in[1].imm;
    if (n >= 4) {
      const Insn& m = in[3];
      const unsigned b = in[1].d;
      std::uint8_t kind = 0;
      if (m.s == b && m.op == OP_MOVBL_IND) kind = BK_LOAD2_ADD_LDB;
      if (m.s == b && m.op == OP_MOVSBL_IND) kind = BK_LOAD2_ADD_LDSB;
      if (m.s == b && m.op == OP_MOVL_LOAD_IND) kind = BK_LOAD2_ADD_LDL;
      if (m.d == b && m.op == OP_MOVB_IND) kind = BK_LOAD2_ADD_STB;
      if (m.d == b && m.op == OP_MOVL_STORE_IND) kind = BK_LOAD2_ADD_STL;
      if (kind) {
        op.kind = kind;
        op.d2 = (kind == BK_LOAD2_ADD_STB || kind == BK_LOAD2_ADD_STL) ? m.s : m.d;
        return 4;
      }
    }
    return 3;
  }
  // movl rA,[r6+a]; add rA,rB; movl [r6+b],rA
  if (n >= 3 && is_load_frame(in[0]) && in[1].op == OP_ADD && in[1].d == in[0].d &&
      in[2].op == OP_MOVL_STORE_FRAME && in[2].s == in[0].d) {
    op.kind = BK_ACC_FRAME;
    op.d = in[0].d;
    op.s = in[1].s;
    op.a = in[0].imm;
    op.b = in[2].imm;
    return 3;
  }
  // movl rA,[r6+a]; add rA,rB; movl rC,[rA]
  if (n >= 3 && is_load_frame(in[0]) && in[1].op == OP_ADD && in[1].d == in[0].d &&
      in[1].s != in[0].d && in[2].op == OP_MOVL_LOAD_IND && in[2].s == in[0].d) {
    op.kind = BK_LOAD_ADD_LDL;
    op.d = in[0].d;
    op.s = in[1].s;
    op.d2 = in[2].d;
    op.a = in[0].imm;
    return 3;
  }
  // movl rA,[r6+a]; mul rA,rB; add rA,rC; mul rA,rD
  if (n >= 4 && is_load_frame(in[0]) && in[1].op == OP_MUL && in[1].d == in[0].d &&
      in[2].op == OP_ADD && in[2].d == in[0].d && in[3].op == OP_MUL && in[3].d == in[0].d) {
    op.kind = BK_LOAD_MUL_ADD_MUL;
    op.d = in[0].d;
    op.s = in[1].s;
    op.d2 = in[2].s;
    op.c = in[3].s;
    op.a = in[0].imm;
    return 4;
  }
  // movl rA,[r6+a]; then add or mul with rA as the source or the destination
  if (n >= 2 && is_load_frame(in[0]) && (in[1].op == OP_ADD || in[1].op == OP_MUL) &&
      (in[1].s == in[0].d || in[1].d == in[0].d)) {
    const bool add = in[1].op == OP_ADD;
    op.d = in[0].d;
    op.a = in[0].imm;
    if (in[1].s == in[0].d) {
      op.kind = add ? BK_LOAD_ADD : BK_LOAD_MUL;
      op.s = in[1].d;
    } else {
      op.kind = add ? BK_LOAD_ADD_DST : BK_LOAD_MUL_DST;
      op.s = in[1].s;
    }
    return 2;
  }
  // movl rX,imm; movl rA,[r6+a]; movl rB,[r6+b], unless rB's load starts
  // one of the sequences above
  if (n >= 3 && is_imm(in[0]) && is_load_frame(in[1]) && is_load_frame(in[2]) &&
      !(n >= 4 && (in[3].op == OP_ADD || in[3].op == OP_SUB) && in[3].d == in[2].d)) {
    op.kind = BK_IMM_LOAD2;
    op.d2 = in[0].d;
    op.c = in[0].imm;
    op.d = in[1].d;
    op.s = in[2].d;
    op.a = in[1].imm;
    op.b = in[2].imm;
    return 3;
  }
  // movl rA,[r6+a]; movl rB,[r6+b], unless rB's load starts one of the
  // sequences above
  if (n >= 2 && is_load_frame(in[0]) && is_load_frame(in[1]) &&
      !(n >= 3 && (in[2].op == OP_ADD || in[2].op == OP_SUB) && in[2].d == in[1].d)) {
    op.kind = BK_LOAD2;
    op.d = in[0].d;
    op.s = in[1].d;
    op.a = in[0].imm;
    op.b = in[1].imm;
    return 2;
  }
  // push rP; xchg rD,rS; call a
  if (n >= 3 && in[0].op == OP_PUSH && in[1].op == OP_XCHG && in[2].op == OP_CALL) {
    op.kind = BK_PUSH_XCHG_CALL;
    op.d2 = in[0].s;
    op.d = in[1].d;
    op.s = in[1].s;
    op.a = in[2].imm;
    op.b = in[1].length + in[2].length;
    return 3;
  }
  // leave a; ret
  if (n >= 2 && in[0].op == OP_LEAVE && in[1].op == OP_RET) {
    op.kind = BK_LEAVE_RET;
    op.a = in[0].imm;
    return 2;
  }
  // lea rA,[r6+a]; postop rD,[rA],b
  if (n >= 2 && in[0].op == OP_LEA && in[1].op == OP_POSTOP && in[1].s == in[0].d) {
    op.kind = BK_LEA_POSTOP;
    op.d = in[0].d;
    op.d2 = in[1].d;
    op.a = in[0].imm;
    op.b = in[1].imm;
    return 2;
  }
  // movl rA,imm; movl [r6+b],rA
  if (n >= 2 && is_imm(in[0]) && in[1].op == OP_MOVL_STORE_FRAME && in[1].s == in[0].d) {
    op.kind = BK_IMM_STORE;
    op.d = in[0].d;
    op.a = in[0].imm;
    op.b = in[1].imm;
    return 2;
  }
  return 0;
}

bool inside_segments(const std::vector<Segment>& segs, Addr at) {
  for (const Segment& s : segs) {
    if (at - s.start < s.length) return true;
  }
  return false;
}

}  // namespace

void set_translation_enabled(bool on) { g_enabled.store(on, std::memory_order_relaxed); }
bool translation_enabled() { return g_enabled.load(std::memory_order_relaxed); }

Translation* translation_for(Addr program, std::uint32_t size) {
  if (size == 0 || !translation_enabled()) return nullptr;
  TranslationList& translations = thread_translations();
  for (auto& t : translations) {
    if (t->program != program) continue;
    if (t->size != size) {
      t = std::make_unique<Translation>();
      t->program = program;
      t->size = size;
    }
    return t.get();
  }
  if (translations.size() >= kMaxTranslations) translations.clear();
  auto t = std::make_unique<Translation>();
  t->program = program;
  t->size = size;
  translations.push_back(std::move(t));
  return translations.back().get();
}

void forget_translation(Addr program) {
  std::erase_if(thread_translations(), [&](const auto& t) { return t->program == program; });
}

void forget_all_translations() { thread_translations().clear(); }

bool prepare_singles(Block& b, const void* const* handlers) {
  b.singles.clear();
  b.single_flow = 0;
  const std::uint8_t* p = b.bytes.data();
  for (std::size_t k = 0; k < b.segments.size(); ++k) {
    const Segment& s = b.segments[k];
    for (std::uint32_t off = 0; off < s.length;) {
      Insn in;
      if (b.singles.size() >= b.count || !decode_instruction(p + off, s.length - off, in)) break;
      TOp op;
      set_single_op(op, in);
      off += in.length;
      op.pc = s.start + off;
      const bool last = b.singles.size() + 1 == b.count;
      if (in.op == OP_JMP && !last && off == s.length && k + 1 < b.segments.size() &&
          b.segments[k + 1].start == in.imm) {
        // A jump the block follows: nothing but pc changes, and pc after it
        // is its target, where the next segment starts.
        set_single_op(op, Insn{OP_NOP, 0, 0, 0, in.length});
        op.pc = in.imm;
      } else if (ends_block(in.op)) {
        b.single_flow |= std::uint64_t{1} << b.singles.size();
      }
      op.handler = handlers[op.kind];
      b.singles.push_back(op);
    }
    p += s.length;
  }
  if (b.singles.size() != b.count) {
    b.singles.clear();
    return false;
  }
  for (std::size_t i = 0; i < b.singles.size(); ++i)
    b.singles[i].rest = static_cast<std::uint8_t>(b.count - i - 1);
  return true;
}

Block* translate_block(Translation& t, const std::uint8_t* base, Addr pc,
                       const void* const* handlers, const void* const* unchecked, Block* existing) {
  const std::uint32_t off = pc - t.program;
  if (off >= t.size || off >= kMaxIndexedOffset) return nullptr;
  Block* b = existing;
  if (!b) {
    if (t.blocks.size() >= kMaxBlocks || t.op_total >= kMaxOps) return nullptr;
    if (off >= t.index.size()) {
      const std::size_t cap = std::min<std::size_t>(t.size, kMaxIndexedOffset);
      t.index.resize(std::min(cap, std::max<std::size_t>(off + 1, t.index.size() * 2 + 256)));
    }
    t.blocks.emplace_back();
    b = &t.blocks.back();
    t.numbered.push_back(b);
    t.index[off] = static_cast<std::uint32_t>(t.blocks.size());
  } else {
    t.op_total -= b->ops.size();
  }
  b->start = pc;
  b->count = 0;
  b->stamp = t.stamp;
  b->segments.clear();
  b->bytes.clear();
  b->ops.clear();
  b->taken = nullptr;
  b->frame_lo = 0;
  b->frame_len = 0;
  b->fall = nullptr;
  b->native = nullptr;
  b->native_tried = false;
  b->singles.clear();
  b->single_flow = 0;

  Addr at = pc;
  Addr seg_start = pc;
  bool open_end = true;  // the block runs on past its last instruction
  while (b->count < kMaxBlockInstructions) {
    Insn in[4];
    unsigned n = 0;
    Addr next = at;
    while (n < 4 && decode(t, base, next, in[n])) {
      next += in[n].length;
      if (ends_block(in[n].op)) {
        ++n;
        break;
      }
      ++n;
    }
    if (n == 0) break;
    // A jump inside the program area is followed: the code at its target
    // joins the block (once; a jump back into the block ends it).
    if (in[0].op == OP_JMP) {
      const Addr target = in[0].imm;
      const Addr after = at + in[0].length;
      if (target - t.program < t.size && target != pc && !inside_segments(b->segments, target) &&
          !(target - seg_start < after - seg_start) && b->segments.size() < 7 &&
          b->count + 1 < kMaxBlockInstructions) {
        b->count += 1;
        b->segments.push_back({seg_start, after - seg_start});
        seg_start = at = target;
        continue;
      }
    }
    TOp op;
    unsigned used = 0;
    // A call of a function made of "trap n; ret" (how builtins are reached)
    // becomes one op; the wrapper's four bytes join the block.
    if (in[0].op == OP_CALL && b->count + 3 <= kMaxBlockInstructions && b->segments.size() < 6) {
      const Addr w = in[0].imm;
      Insn trap, ret;
      if (w - t.program < t.size && decode(t, base, w, trap) && trap.op == OP_TRAP &&
          decode(t, base, w + 3, ret) && ret.op == OP_RET) {
        op.kind = BK_CALL_TRAP_RET;
        op.a = w;
        op.b = trap.imm;
        at += in[0].length;
        op.pc = at;
        b->count += 3;
        op.rest = static_cast<std::uint8_t>(b->count);
        b->ops.push_back(op);
        b->segments.push_back({seg_start, at - seg_start});
        b->segments.push_back({w, 4});
        seg_start = at;
        open_end = false;
        break;
      }
    }
    if (b->count + 4 <= kMaxBlockInstructions) used = fuse(in, n, op);
    if (used && op.kind == BK_PUSH_XCHG_CALL) {
      // A builtin's wrapper is reached by its own op (above) once the push
      // and the exchange have run on their own.
      const Addr w = op.a;
      Insn trap, ret;
      if (w - t.program < t.size && decode(t, base, w, trap) && trap.op == OP_TRAP &&
          decode(t, base, w + 3, ret) && ret.op == OP_RET)
        used = 0;
    }
    if (used == 0) {
      used = 1;
      op = TOp{};
      set_single_op(op, in[0]);
    }
    for (unsigned k = 0; k < used; ++k) at += in[k].length;
    op.pc = at;
    b->count += used;
    op.rest = static_cast<std::uint8_t>(b->count);  // turned into "left after" below
    b->ops.push_back(op);
    if (ends_block(in[used - 1].op)) {
      open_end = false;
      break;
    }
  }
  if (b->count == 0) {
    // Nothing here can be decoded: the interpreter steps it.
    b->segments.clear();
    return b;
  }
  if (at != seg_start) b->segments.push_back({seg_start, at - seg_start});
  if (open_end) {
    TOp exit;
    exit.kind = BK_EXIT;
    exit.pc = at;
    exit.rest = static_cast<std::uint8_t>(b->count);
    b->ops.push_back(exit);
  }
  // Original instructions left after each op, for leaving a block early,
  // and the op of each instruction.
  std::uint32_t k = 0;
  for (std::size_t i = 0; i < b->ops.size(); ++i) {
    TOp& op = b->ops[i];
    for (; k < op.rest; ++k) b->op_of[k] = static_cast<std::uint8_t>(i);
    op.rest = static_cast<std::uint8_t>(b->count - op.rest);
  }
  std::size_t total = 0;
  for (const Segment& s : b->segments) total += s.length;
  b->bytes.resize(total);
  std::size_t w = 0;
  for (const Segment& s : b->segments) {
    std::memcpy(b->bytes.data() + w, base + s.start, s.length);
    w += s.length;
    t.lo = std::min(t.lo, s.start);
    t.hi = std::max(t.hi, s.start + s.length);
  }
  // Frame-slot accesses before the first op that may change r6 share one
  // window, checked when the block is entered.
  std::int64_t lo = 0, hi = 0;
  bool any = false, frame_intact = true;
  for (TOp& op : b->ops) {
    op.handler = handlers[op.kind];
    const bool names_r6 = op.d == kRegFrame || op.s == kRegFrame || op.d2 == kRegFrame;
    if (frame_intact && !names_r6) {
      const unsigned fields = frame_slots(op.kind);
      std::int64_t olo = INT64_MAX, ohi = INT64_MIN;
      for (unsigned k = 0; k < 2; ++k) {
        if (!(fields & (1u << k))) continue;
        const std::int64_t disp = static_cast<std::int32_t>(k == 0 ? op.a : op.b);
        olo = std::min(olo, disp);
        ohi = std::max(ohi, disp + 4);
      }
      if (fields && frame_slot_in_reach(olo, ohi)) {
        op.handler = unchecked[op.kind];
        lo = any ? std::min(lo, olo) : olo;
        hi = any ? std::max(hi, ohi) : ohi;
        any = true;
      }
    }
    if (names_r6 || op.kind == OP_ENTER || op.kind == OP_LEAVE) frame_intact = false;
  }
  b->frame_lo = any ? static_cast<std::int32_t>(lo) : 0;
  b->frame_len = any ? static_cast<std::uint32_t>(hi - lo) : 0;
  t.op_total += b->ops.size();
  return b;
}

}  // namespace talven::script

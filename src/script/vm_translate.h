// Pre-decoded blocks of script code for the interpreter.
//
// The interpreter does not execute the program image byte by byte when it
// can avoid it: a straight run of instructions starting at a pc is decoded
// once into a block of operations (operands unpacked, registers checked,
// conditional jumps turned into a flag mask), and the sequences the code
// generator emits most are fused into single operations. Unconditional
// jumps inside the program area are followed, so a loop body and its test
// form one block. The image itself is never changed.
//
// A block keeps a copy of the bytes it was made from. A block is trusted
// only while its stamp equals its translation's stamp; the interpreter
// bumps the stamp when anything may have written code behind its back (a
// new slice, a builtin call, a store inside the translated range), and a
// block whose stamp is old is compared with the image again before it runs
// and rebuilt if the bytes differ. So no stale block is ever executed.
//
// Op kinds: the single instructions (kind = opcode, the list in
// script/opcodes.h), then the fused sequences, the list TALVEN_BLOCK_OPS
// below. The interpreter has one handler per kind (exec_OP_<NAME>,
// exec_BK_<NAME> in vm.cpp), a second one with unchecked frame slots for
// the kinds that have frame slots, and hands both tables to
// translate_block(), which sets TOp::handler; this layer knows nothing else
// of the handlers. Adding a fused op takes a row in TALVEN_BLOCK_OPS, its
// pattern in fuse() (vm_translate.cpp) and its handler in vm.cpp; machine
// code works from the instructions a block was made of and needs nothing.
//
// Translations are per thread (no locking) and per program area.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

#include "base/address_space.h"
#include "script/native_code.h"
#include "script/opcodes.h"

namespace talven::script {

// ---- the kinds of block ops ---------------------------------------------------
//
// Kinds 0 .. kOpcodeCount-1 are the single instructions (kind = opcode, the
// list in script/opcodes.h). The fused sequences follow, one row each:
// X(NAME, frame slots), the frame slots saying which of TOp::a and TOp::b
// are 32-bit frame-slot displacements (None, A, B, AB). An op with frame
// slots has a second handler whose slot accesses are unchecked, used when
// the block's frame window (Block::frame_lo) covers them. Operands of each
// row: the registers in TOp::d, s, d2 (and c where said).
#define TALVEN_BLOCK_OPS(X) \
  X(LOAD2_SUB_JCC, AB)   /* movl rA,[r6+a]; movl rB,[r6+b]; sub rB,rA; jcc c (d A, s B) */ \
  X(IMM_LOAD_SUB_JCC, B) /* movl rA,a; movl rB,[r6+b]; sub rB,rA; jcc c     (d A, s B) */ \
  X(IMM_LOAD_SUB, B)     /* movl rA,a; movl rB,[r6+b]; sub rB,rA            (d A, s B) */ \
  X(LOAD2_ADD, AB)       /* movl rA,[r6+a]; movl rB,[r6+b]; add rB,rA       (d A, s B) */ \
  X(LOAD_ADD, A)         /* movl rA,[r6+a]; add rB,rA                       (d A, s B) */ \
  X(LEA_POSTOP, A)       /* lea rA,[r6+a]; postop rD2,[rA],b               (d A, d2 D2) */ \
  X(IMM_STORE, B)        /* movl rA,a; movl [r6+b],rA                             (d A) */ \
  X(CALL_TRAP_RET, None) /* call W where W holds "trap n; ret": a = W, b = n (ends the block) */ \
  /* movl rA,[r6+a]; movl rB,[r6+b]; add rB,rA; then through rB (d A, s B,             */ \
  /* d2 = the other register of the last instruction):                                */ \
  X(LOAD2_ADD_LDB, AB)  /* movbl rX,[rB] */ \
  X(LOAD2_ADD_LDSB, AB) /* movsbl rX,[rB] */ \
  X(LOAD2_ADD_LDL, AB)  /* movl rX,[rB] */ \
  X(LOAD2_ADD_STB, AB)  /* movb [rB],rX */ \
  X(LOAD2_ADD_STL, AB)  /* movl [rB],rX */ \
  X(ACC_FRAME, AB)      /* movl rA,[r6+a]; add rA,rB; movl [r6+b],rA       (d A, s B) */ \
  X(LOAD_ADD_DST, A)    /* movl rA,[r6+a]; add rA,rB                       (d A, s B) */ \
  X(LOAD_MUL_DST, A)    /* movl rA,[r6+a]; mul rA,rB                       (d A, s B) */ \
  X(LOAD_MUL, A)        /* movl rA,[r6+a]; mul rB,rA                       (d A, s B) */ \
  X(LOAD_ADD_LDL, A)    /* movl rA,[r6+a]; add rA,rB; movl rC,[rA]   (d A, s B, d2 C) */ \
  X(LOAD2, AB)          /* movl rA,[r6+a]; movl rB,[r6+b]                  (d A, s B) */ \
  X(LEAVE_RET, None)    /* leave a; ret                                 (ends the block) */ \
  X(EXIT, None)         /* end of a block that runs on into code it does not hold: pc = TOp::pc */ \
  X(PUSH_XCHG_CALL, \
    None) /* push rP; xchg rD,rS; call a (d2 P, b = bytes of xchg and call; ends the block) */ \
  X(LOAD_MUL_ADD_MUL, A) /* movl rA,[r6+a]; mul rA,rB; add rA,rC; mul rA,rD, an index times */ \
                         /* its element size                    (d A, s B, d2 C, c = D) */ \
  X(IMM_LOAD2, AB)       /* movl rX,imm; movl rA,[r6+a]; movl rB,[r6+b] (d A, s B, d2 X, c imm) */

// The single instructions whose 32-bit frame slot (TOp::a) may be unchecked,
// in the same form.
#define TALVEN_UNCHECKED_OPCODES(X) X(MOVL_LOAD_FRAME, A) X(MOVL_STORE_FRAME, A)

#define TALVEN_BLOCK_OP_ENUM(NAME, ...) BK_##NAME,
enum BlockOpKind : std::uint8_t {
  BK_LAST_SINGLE = kOpcodeCount - 1,  // the single instructions come first
  TALVEN_BLOCK_OPS(TALVEN_BLOCK_OP_ENUM) BK_COUNT
};
#undef TALVEN_BLOCK_OP_ENUM

// Frame slots of a kind: bit 0 for TOp::a, bit 1 for TOp::b (0: the kind
// has no unchecked handler).
enum FrameSlots : std::uint8_t {
  kFrameSlotsNone = 0,
  kFrameSlotsA = 1,
  kFrameSlotsB = 2,
  kFrameSlotsAB = 3
};

inline constexpr auto kFrameSlotsOf = [] {
  struct Table {
    std::uint8_t at[BK_COUNT] = {};
  } t;
#define TALVEN_FRAME_SLOTS_OP(NAME, slots) t.at[OP_##NAME] = kFrameSlots##slots;
#define TALVEN_FRAME_SLOTS_BK(NAME, slots) t.at[BK_##NAME] = kFrameSlots##slots;
  TALVEN_UNCHECKED_OPCODES(TALVEN_FRAME_SLOTS_OP)
  TALVEN_BLOCK_OPS(TALVEN_FRAME_SLOTS_BK)
#undef TALVEN_FRAME_SLOTS_OP
#undef TALVEN_FRAME_SLOTS_BK
  return t;
}();

constexpr unsigned frame_slots(std::uint8_t kind) {
  return kind < BK_COUNT ? kFrameSlotsOf.at[kind] : 0;
}

struct Block;

struct TOp {
  const void* handler = nullptr;  // the interpreter's handler of kind (translate_block)
  std::uint32_t a = 0;            // immediate, displacement or jump target
  std::uint32_t b = 0;            // second immediate or displacement
  std::uint32_t c = 0;            // jump target of a fused compare and jump
  Addr pc = 0;                    // address just past the op's last instruction
  std::uint8_t kind = 0;          // BlockOpKind
  std::uint8_t d = 0;             // destination nibble (or first register)
  std::uint8_t s = 0;             // source nibble (or second register)
  std::uint8_t d2 = 0;            // third register of a fused op
  std::uint8_t mask = 0;          // jumps: bit (zf | lf << 1 | bf << 2) set = taken
  std::uint8_t rest = 0;          // original instructions after this op in the block
};

// Whether a jump with this mask is taken under these flags.
inline bool mask_taken(std::uint8_t mask, bool zf, bool lf, bool bf) {
  return (mask >> (unsigned{zf} | (unsigned{lf} << 1) | (unsigned{bf} << 2))) & 1u;
}

constexpr bool is_jcc(std::uint8_t op) { return op >= OP_JE && op <= OP_JBE; }

// The flag mask of conditional jump opcode `op` (0 for other opcodes and
// bytes that are no opcode; one row per byte, so no range test).
inline constexpr auto kJumpMasks = [] {
  struct Table {
    std::uint8_t at[256] = {};
  } t;
  for (unsigned op = OP_JE; op <= OP_JBE; ++op) {
    for (unsigned i = 0; i < 8; ++i) {
      if (jump_taken(static_cast<std::uint8_t>(op), i & 1u, (i >> 1) & 1u, (i >> 2) & 1u))
        t.at[op] = static_cast<std::uint8_t>(t.at[op] | (1u << i));
    }
  }
  return t;
}();
constexpr std::uint8_t jump_mask(std::uint8_t op) { return kJumpMasks.at[op]; }

// One decoded instruction.
struct Insn {
  std::uint8_t op = 0;
  std::uint8_t d = 0, s = 0;
  std::uint32_t imm = 0;
  std::uint32_t length = 0;
};

// Decodes the instruction at p, of which `avail` bytes may be read: false
// for an invalid opcode, a register nibble above 7 or a cut instruction.
inline bool decode_instruction(const std::uint8_t* p, std::uint32_t avail, Insn& out) {
  if (avail == 0) return false;
  const std::uint8_t op = p[0];
  if (!op_valid(op)) return false;
  const OperandForm form = kOpInfo[op].form;
  const auto length = static_cast<std::uint32_t>(operand_form_length(form));
  if (length > avail) return false;
  out = Insn{};
  out.op = op;
  out.length = length;
  switch (form) {
    case OperandForm::None: break;
    case OperandForm::T: out.imm = get_u16(p + 1); break;
    case OperandForm::R:
    case OperandForm::RI:
      if (p[1] & kRegByteInvalidMask) return false;
      out.d = p[1] & 15u;
      out.s = p[1] >> 4;
      if (form == OperandForm::RI) out.imm = get_u32(p + 2);
      break;
    case OperandForm::I: out.imm = get_u32(p + 1); break;
  }
  return true;
}

// How each opcode's operands lie, so that an instruction whose six bytes
// may all be read decodes without a branch per operand form: the register
// byte masked by reg_mask, the immediate the 32-bit word at imm_at masked
// by imm_mask. length 0: not an opcode.
struct OperandLayout {
  std::uint8_t length = 0;
  std::uint8_t reg_mask = 0;
  std::uint8_t imm_at = 1;
  std::uint32_t imm_mask = 0;
};
inline constexpr auto kOperandLayouts = [] {
  struct Table {
    OperandLayout at[256] = {};
  } t;
  for (unsigned op = 0; op < kOpcodeCount; ++op) {
    const OperandForm f = kOpInfo[op].form;
    OperandLayout& l = t.at[op];
    l.length = static_cast<std::uint8_t>(operand_form_length(f));
    l.reg_mask = f == OperandForm::R || f == OperandForm::RI ? 0xFF : 0;
    l.imm_at = f == OperandForm::RI ? 2 : 1;
    l.imm_mask = f == OperandForm::T      ? 0xFFFFu
                 : f == OperandForm::R    ? 0u
                 : f == OperandForm::None ? 0u
                                          : 0xFFFFFFFFu;
  }
  return t;
}();

// decode_instruction(p, 6, out) for six readable bytes at p, as the
// interpreter steps the image away from the end of committed memory.
inline bool decode_instruction6(const std::uint8_t* p, Insn& out) {
  const OperandLayout& l = kOperandLayouts.at[p[0]];
  const std::uint8_t rb = p[1] & l.reg_mask;
  if (l.length == 0 || (rb & kRegByteInvalidMask)) return false;
  out.op = p[0];
  out.d = rb & 15u;
  out.s = rb >> 4;
  out.imm = get_u32(p + l.imm_at) & l.imm_mask;
  out.length = l.length;
  return true;
}

// The op of one instruction on its own: how the translator takes an
// instruction it does not fuse, and how the interpreter steps one from the
// image. pc and handler are the caller's. The fields are written one by
// one into the op that runs: a TOp built aside and copied in would be read
// back wider than its byte fields were just written, which the host cannot
// forward from its store buffer.
inline void set_single_op(TOp& op, const Insn& i) {
  op.kind = i.op;
  op.d = i.d;
  op.s = i.s;
  op.a = i.imm;
  op.b = 0;
  op.c = 0;
  op.d2 = 0;
  op.mask = jump_mask(i.op);
  op.rest = 0;
}

struct Segment {
  Addr start;
  std::uint32_t length;
};

struct Block {
  Addr start = 0;
  // Original instructions the block executes when it runs to its end; 0
  // means the instruction at start cannot be translated (the interpreter
  // steps it byte by byte).
  std::uint32_t count = 0;
  std::uint32_t stamp = 0;
  std::vector<Segment> segments;    // code ranges the block was made from
  std::vector<std::uint8_t> bytes;  // their bytes, one after the other
  std::vector<TOp> ops;
  // The frame window of the ops whose frame-slot accesses are unchecked:
  // [r6 + frame_lo, r6 + frame_lo + frame_len) with r6 as at block entry
  // (no earlier op in the block changes r6). The interpreter checks it once
  // on entry. frame_len 0: every access is checked.
  std::int32_t frame_lo = 0;
  std::uint32_t frame_len = 0;
  // Successor blocks of the final op, found once and kept.
  Block* taken = nullptr;  // jump target (or call target)
  Block* fall = nullptr;   // next instruction (or return address of a call)
  // Machine code of the block (script/vm_native.h), made on its first run;
  // native_tried says whether that was tried since the block was built.
  void* native = nullptr;
  bool native_tried = false;
  // The block's original instructions as ops of one instruction each, in
  // the order they run (prepare_singles, made when a slice first ends inside
  // the block): the part of a fused op that fits a slice runs from these.
  // Op i's rest is count - i - 1; bit i of single_flow is set when
  // instruction i may change pc.
  std::vector<TOp> singles;
  std::uint64_t single_flow = 0;
  // op_of[k]: the op that holds the block's instruction k (k < count), so
  // a slice that ends after k instructions finds where it stops at once.
  std::uint8_t op_of[64] = {};
};

struct Translation {
  Addr program = 0;
  std::uint32_t size = 0;
  std::uint32_t stamp = 1;
  // Hull of all translated bytes: a store into [lo, hi) may change code.
  Addr lo = 0xFFFFFFFFu;
  Addr hi = 0;
  std::vector<std::uint32_t> index;  // program offset -> block number + 1
  std::deque<Block> blocks;          // stable addresses
  std::vector<Block*> numbered;      // block number - 1 -> its block, for find_block
  std::size_t op_total = 0;
  NativeArena* arena = nullptr;  // machine code of the blocks

  Translation() = default;
  Translation(const Translation&) = delete;
  Translation& operator=(const Translation&) = delete;
  ~Translation() { native_arena_free(arena); }
};

// Limits: a block holds at most this many original instructions; offsets
// beyond kMaxIndexedOffset and translations beyond the block and op caps are
// left to byte-by-byte stepping.
constexpr unsigned kMaxBlockInstructions = 64;
static_assert(kMaxBlockInstructions <= sizeof Block::op_of);
constexpr std::uint32_t kMaxIndexedOffset = 4u << 20;
constexpr std::size_t kMaxBlocks = 1u << 16;
constexpr std::size_t kMaxOps = 1u << 20;

// This thread's translation of the program area [program, program + size),
// created empty when missing; null for an empty area. May drop other
// translations of the thread (never while one of them is running: call it
// only where no block pointer is held).
Translation* translation_for(Addr program, std::uint32_t size);

// Whether translation_for gives translations (on by default). Off, every
// instruction runs from the image; the tests compare the two ways.
void set_translation_enabled(bool on);
bool translation_enabled();

// Drops this thread's translation of the area at `program`, if any.
void forget_translation(Addr program);

// Drops every translation of this thread.
void forget_all_translations();

// The block starting at pc, or null when there is none yet.
inline Block* find_block(Translation& t, Addr pc) {
  const std::uint32_t off = pc - t.program;
  if (off >= t.index.size()) return nullptr;
  const std::uint32_t n = t.index[off];
  return n ? t.numbered[n - 1] : nullptr;
}

// Decodes the block starting at pc (pc inside the program area) from the
// image at `base`, or rebuilds `existing` in place; each op's handler is
// handlers[kind], or unchecked[kind] for an op whose frame-slot accesses
// lie in the block's frame window. Null when pc is outside the indexed
// range or the translation is full.
Block* translate_block(Translation& t, const std::uint8_t* base, Addr pc,
                       const void* const* handlers, const void* const* unchecked,
                       Block* existing = nullptr);

// Fills b.singles from the bytes the block was made from, each op's
// handler handlers[kind]; false when they do not decode into b.count
// instructions (the interpreter then steps the image).
bool prepare_singles(Block& b, const void* const* handlers);

// Whether the n instructions from the block's instruction `first` on
// (n >= 1, within the block) run from b.singles: none of them may change pc.
inline bool singles_run(const Block& b, std::uint32_t first, std::uint32_t n) {
  return ((b.single_flow >> first) & ((std::uint64_t{1} << n) - 1)) == 0;
}

// Whether n bytes at image equal n bytes at copy.
inline bool same_bytes(const std::uint8_t* image, const std::uint8_t* copy, std::uint32_t n) {
  std::uint64_t x, y;
  if (n < 8) {
    for (std::uint32_t i = 0; i < n; ++i) {
      if (image[i] != copy[i]) return false;
    }
    return true;
  }
  // Eight bytes at a time, the last eight read overlapping the ones before.
  for (std::uint32_t i = 0; i + 8 < n; i += 8) {
    std::memcpy(&x, image + i, 8);
    std::memcpy(&y, copy + i, 8);
    if (x != y) return false;
  }
  std::memcpy(&x, image + n - 8, 8);
  std::memcpy(&y, copy + n - 8, 8);
  return x == y;
}

// Whether the image still holds the bytes the block was made from.
inline bool block_matches(const Block& b, const std::uint8_t* base) {
  const std::uint8_t* copy = b.bytes.data();
  for (const Segment& s : b.segments) {
    if (!same_bytes(base + s.start, copy, s.length)) return false;
    copy += s.length;
  }
  return true;
}

}  // namespace talven::script

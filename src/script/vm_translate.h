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
// Translations are per thread (no locking) and per program area; this
// layer knows nothing of the interpreter's handlers: the interpreter fills
// TOp::handler from TOp::kind.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

#include "base/address_space.h"
#include "script/opcodes.h"
#include "script/vm_native.h"

namespace talven::script {

// Operation kinds: 0..91 are the single instructions (kind == opcode).
enum TKind : std::uint8_t {
  // movl rA,[r6+a]; movl rB,[r6+b]; sub rB,rA; jcc c      (d = A, s = B)
  TK_LOAD2_SUB_JCC = 92,
  // movl rA,a; movl rB,[r6+b]; sub rB,rA; jcc c           (d = A, s = B)
  TK_IMM_LOAD_SUB_JCC,
  // movl rA,a; movl rB,[r6+b]; sub rB,rA                  (d = A, s = B)
  TK_IMM_LOAD_SUB,
  // movl rA,[r6+a]; movl rB,[r6+b]; add rB,rA             (d = A, s = B)
  TK_LOAD2_ADD,
  // movl rA,[r6+a]; add rB,rA                             (d = A, s = B)
  TK_LOAD_ADD,
  // lea rA,[r6+a]; postop rD2,[rA],b                      (d = A, d2 = D2)
  TK_LEA_POSTOP,
  // movl rA,a; movl [r6+b],rA                             (d = A)
  TK_IMM_STORE,
  // call W where W holds "trap n; ret": a = W, b = n       (ends the block)
  TK_CALL_TRAP_RET,
  // movl rA,[r6+a]; movl rB,[r6+b]; add rB,rA; then through rB (d = A,
  // s = B, d2 = the other register of the last instruction):
  TK_LOAD2_ADD_LDB,   // movbl rX,[rB]
  TK_LOAD2_ADD_LDSB,  // movsbl rX,[rB]
  TK_LOAD2_ADD_LDL,   // movl rX,[rB]
  TK_LOAD2_ADD_STB,   // movb [rB],rX
  TK_LOAD2_ADD_STL,   // movl [rB],rX
  // movl rA,[r6+a]; add rA,rB; movl [r6+b],rA             (d = A, s = B)
  TK_ACC_FRAME,
  // movl rA,[r6+a]; add rA,rB                             (d = A, s = B)
  TK_LOAD_ADD_DST,
  // movl rA,[r6+a]; mul rA,rB                             (d = A, s = B)
  TK_LOAD_MUL_DST,
  // movl rA,[r6+a]; mul rB,rA                             (d = A, s = B)
  TK_LOAD_MUL,
  // movl rA,[r6+a]; add rA,rB; movl rC,[rA]                (d = A, s = B, d2 = C)
  TK_LOAD_ADD_LDL,
  // movl rA,[r6+a]; movl rB,[r6+b]                        (d = A, s = B)
  TK_LOAD2,
  // leave a; ret                                          (ends the block)
  TK_LEAVE_RET,
  // end of a block that runs on into code it does not hold: pc = TOp::pc
  TK_EXIT,
  // push rP; xchg rD,rS; call a   (d2 = P, b = bytes of xchg and call; ends the block)
  TK_PUSH_XCHG_CALL,
  // movl rA,[r6+a]; mul rA,rB; add rA,rC; mul rA,rD, an index times its
  // element size                  (d = A, s = B, d2 = C, c = D)
  TK_LOAD_MUL_ADD_MUL,
  // movl rX,imm; movl rA,[r6+a]; movl rB,[r6+b]   (d = A, s = B, d2 = X, c = imm)
  TK_IMM_LOAD2,
  TK_COUNT
};

struct Block;

struct TOp {
  const void* handler = nullptr;  // set by the interpreter from kind
  std::uint32_t a = 0;            // immediate, displacement or jump target
  std::uint32_t b = 0;            // second immediate or displacement
  std::uint32_t c = 0;            // jump target of a fused compare and jump
  Addr pc = 0;                    // address just past the op's last instruction
  std::uint8_t kind = 0;          // TKind
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

// The flag mask of conditional jump opcode `op` (0 for other opcodes).
std::uint8_t jump_mask(std::uint8_t op);

inline bool is_jcc(std::uint8_t op) { return op >= OP_JE && op <= OP_JBE; }

// One decoded instruction.
struct Insn {
  std::uint8_t op = 0;
  std::uint8_t d = 0, s = 0;
  std::uint32_t imm = 0;
  std::uint32_t length = 0;
};

// Decodes the instruction at p, of which `avail` bytes may be read: false
// for an invalid opcode, a register nibble above 7 or a cut instruction.
bool decode_instruction(const std::uint8_t* p, std::uint32_t avail, Insn& out);

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
  std::vector<Segment> segments;      // code ranges the block was made from
  std::vector<std::uint8_t> bytes;    // their bytes, one after the other
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
  std::size_t op_total = 0;
  NativeArena* arena = nullptr;      // machine code of the blocks

  Translation() = default;
  Translation(const Translation&) = delete;
  Translation& operator=(const Translation&) = delete;
  ~Translation() { native_arena_free(arena); }
};

// Limits: a block holds at most this many original instructions; offsets
// beyond kMaxIndexedOffset and translations beyond the block and op caps are
// left to byte-by-byte stepping.
constexpr unsigned kMaxBlockInstructions = 64;
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
  return n ? &t.blocks[n - 1] : nullptr;
}

// Decodes the block starting at pc (pc inside the program area) from the
// image at `base`, or rebuilds `existing` in place; each op's handler is
// handlers[kind], or unchecked[kind] for an op whose frame-slot accesses
// lie in the block's frame window. Null when pc is outside the indexed
// range or the translation is full.
Block* translate_block(Translation& t, const std::uint8_t* base, Addr pc,
                       const void* const* handlers, const void* const* unchecked,
                       Block* existing = nullptr);

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

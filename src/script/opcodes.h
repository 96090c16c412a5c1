// The script instruction set: opcode numbers, operand forms, register roles
// and the small encoders the code generator, the assembler helper of the
// tests and the disassembler share.
//
// An instruction is one opcode byte followed by its operands, unaligned:
//   R  one register byte: low nibble D (destination), high nibble S (source).
//      Single-register instructions use the nibble named in the table below;
//      the code generator writes the register into both nibbles then.
//   I  a 32-bit little-endian word (immediate, absolute address, frame
//      displacement or frame size).
//   T  a 16-bit little-endian builtin number.
// Register nibbles above 7 are invalid code, whichever nibble holds them.
//
// This header is shared with the compiler: only ever add to it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace talven::script {

// ---- the instruction list -----------------------------------------------------
//
// One row per instruction, in opcode order (the row number is the opcode, so
// rows are only ever appended): X(NAME, mnemonic, operand form, registers
// read, operand style). Everything indexed by opcode is made from it: the
// Opcode enum, kOpcodeCount, kOpInfo, the interpreter's handler tables and
// each CPU's table of machine-code lowerings, so a row without its handler
// or lowering does not compile.
//
// Loads and stores come in three addressing forms:
//   _ABS    [I]          absolute address
//   _FRAME  [r6 + I]     frame displacement
//   _IND    [rS] / [rD]  through a register
// The 32-bit move is "movl" in all of them; its enum names say LOAD/STORE.
// The comment of a row says what the instruction does.
#define TALVEN_OPCODES(X) \
  X(NOP, "nop", None, kRegNone, None)              /* nothing */ \
  X(TRAP, "trap", T, kRegNone, Number)             /* trap handler (n, context) */ \
  X(XCHG, "xchg", R, kRegDS, RegReg)               /* swap rD, rS */ \
  X(MOVL_RR, "movl", R, kRegDS, RegReg)            /* rD = rS */ \
  X(MOVL_IMM, "movl", RI, kRegD, RegImm)           /* rD = I */ \
  X(MOVL_ADDR, "movl", RI, kRegD, RegAddr)         /* rD = I (global, string, function) */ \
  X(MOVBL_ABS, "movbl", RI, kRegD, RegAbs)         /* rD = zx8 [I] */ \
  X(MOVSBL_ABS, "movsbl", RI, kRegD, RegAbs)       /* rD = sx8 [I] */ \
  X(MOVWL_ABS, "movwl", RI, kRegD, RegAbs)         /* rD = zx16 [I] */ \
  X(MOVSWL_ABS, "movswl", RI, kRegD, RegAbs)       /* rD = sx16 [I] */ \
  X(MOVL_LOAD_ABS, "movl", RI, kRegD, RegAbs)      /* rD = [I] */ \
  X(LEA, "lea", RI, kRegD, RegFrame)               /* rD = r6 + I */ \
  X(MOVBL_FRAME, "movbl", RI, kRegD, RegFrame)     /* rD = zx8 [r6 + I] */ \
  X(MOVSBL_FRAME, "movsbl", RI, kRegD, RegFrame)   /* rD = sx8 [r6 + I] */ \
  X(MOVWL_FRAME, "movwl", RI, kRegD, RegFrame)     /* rD = zx16 [r6 + I] */ \
  X(MOVSWL_FRAME, "movswl", RI, kRegD, RegFrame)   /* rD = sx16 [r6 + I] */ \
  X(MOVL_LOAD_FRAME, "movl", RI, kRegD, RegFrame)  /* rD = [r6 + I] */ \
  X(MOVBL_IND, "movbl", R, kRegDS, RegInd)         /* rD = zx8 [rS] */ \
  X(MOVSBL_IND, "movsbl", R, kRegDS, RegInd)       /* rD = sx8 [rS] */ \
  X(MOVWL_IND, "movwl", R, kRegDS, RegInd)         /* rD = zx16 [rS] */ \
  X(MOVSWL_IND, "movswl", R, kRegDS, RegInd)       /* rD = sx16 [rS] */ \
  X(MOVL_LOAD_IND, "movl", R, kRegDS, RegInd)      /* rD = [rS] */ \
  X(MOVB_ABS, "movb", RI, kRegS, AbsReg)           /* 8-bit [I] = rS */ \
  X(MOVW_ABS, "movw", RI, kRegS, AbsReg)           /* 16-bit [I] = rS */ \
  X(MOVL_STORE_ABS, "movl", RI, kRegS, AbsReg)     /* [I] = rS */ \
  X(MOVB_FRAME, "movb", RI, kRegS, FrameReg)       /* 8-bit [r6 + I] = rS */ \
  X(MOVW_FRAME, "movw", RI, kRegS, FrameReg)       /* 16-bit [r6 + I] = rS */ \
  X(MOVL_STORE_FRAME, "movl", RI, kRegS, FrameReg) /* [r6 + I] = rS */ \
  X(MOVB_IND, "movb", R, kRegDS, IndReg)           /* 8-bit [rD] = rS */ \
  X(MOVW_IND, "movw", R, kRegDS, IndReg)           /* 16-bit [rD] = rS */ \
  X(MOVL_STORE_IND, "movl", R, kRegDS, IndReg)     /* [rD] = rS */ \
  X(PUSH, "push", R, kRegS, Src)                   /* r7 -= 4; [r7] = rS */ \
  X(PUSH_IMM, "push", I, kRegNone, Imm)            /* r7 -= 4; [r7] = I */ \
  X(POP, "pop", R, kRegD, Dst)                     /* rD = [r7]; r7 += 4 */ \
  X(ENTER, "enter", I, kRegNone, Number)           /* open a frame of I bytes */ \
  X(LEAVE, "leave", I, kRegNone, Number)           /* close a frame of I bytes */ \
  X(CALL, "call", I, kRegNone, Target)             /* push return address; pc = I */ \
  X(CALL_REG, "call", R, kRegS, Src)               /* push return address; pc = rS */ \
  X(RET, "ret", None, kRegNone, None)              /* pc = pop; 0xFFFFFFFF finishes */ \
  X(PREOP, "preop", RI, kRegDS, RegIndImm)         /* [rS] += I; rD = new value */ \
  X(POSTOP, "postop", RI, kRegDS, RegIndImm)       /* rD = [rS]; [rS] += I */ \
  X(PREINC, "preinc", R, kRegDS, RegByteInd)       /* 8-bit ++[rS]; rD = zx new */ \
  X(POSTINC, "postinc", R, kRegDS, RegByteInd)     /* rD = zx8 [rS]; [rS]++ */ \
  X(PREDEC, "predec", R, kRegDS, RegByteInd)       /* 8-bit --[rS]; rD = zx new */ \
  X(POSTDEC, "postdec", R, kRegDS, RegByteInd)     /* rD = zx8 [rS]; [rS]-- */ \
  X(PREINC16, "preinc", R, kRegDS, RegWordInd)     /* as PREINC on 16 bits */ \
  X(POSTINC16, "postinc", R, kRegDS, RegWordInd) \
  X(PREDEC16, "predec", R, kRegDS, RegWordInd) \
  X(POSTDEC16, "postdec", R, kRegDS, RegWordInd) \
  X(ZEROB_ABS, "zerob", I, kRegNone, Abs) /* zero_flag = (8-bit [I] == 0) */ \
  X(ZEROW_ABS, "zerow", I, kRegNone, Abs) \
  X(ZEROL_ABS, "zerol", I, kRegNone, Abs) \
  X(ZEROB_FRAME, "zerob", I, kRegNone, Frame) /* zero_flag = (8-bit [r6 + I] == 0) */ \
  X(ZEROW_FRAME, "zerow", I, kRegNone, Frame) \
  X(ZEROL_FRAME, "zerol", I, kRegNone, Frame) \
  X(CMP, "cmp", R, kRegDS, RegReg)     /* flags from rD vs rS */ \
  X(CMP_IMM, "cmp", RI, kRegD, RegImm) /* flags from rD vs I */ \
  X(SET, "set", R, kRegDS, RegReg)     /* rD = (rS == 0) */ \
  X(ADD, "add", R, kRegDS, RegReg)     /* rD += rS */ \
  X(ADD_IMM, "add", RI, kRegD, RegImm) /* rD += I */ \
  X(SUB, "sub", R, kRegDS, RegReg)     /* flags as CMP, then rD -= rS */ \
  X(SUB_IMM, "sub", RI, kRegD, RegImm) /* flags as CMP_IMM, then rD -= I */ \
  X(MUL, "mul", R, kRegDS, RegReg)     /* rD *= rS (low 32 bits) */ \
  X(DIV, "div", R, kRegDS, RegReg)     /* rD /= rS signed; 0 divisor: error 0 */ \
  X(MOD, "mod", R, kRegDS, RegReg)     /* rD %= rS signed; 0 divisor: error 0 */ \
  X(SHL, "shl", R, kRegDS, RegReg)     /* rD <<= rS & 31 */ \
  X(SHR, "shr", R, kRegDS, RegReg)     /* rD >>= rS & 31 (logical) */ \
  X(SAR, "sar", R, kRegDS, RegReg)     /* rD >>= rS & 31 (arithmetic) */ \
  X(NEG, "neg", R, kRegDS, RegReg)     /* rD = -rS */ \
  X(NOT, "not", R, kRegDS, RegReg)     /* rD = ~rS */ \
  X(AND, "and", R, kRegDS, RegReg) \
  X(OR, "or", R, kRegDS, RegReg) \
  X(XOR, "xor", R, kRegDS, RegReg) \
  X(JMP, "jmp", I, kRegNone, Target) /* pc = I */ \
  X(JE, "je", I, kRegNone, Target)   /* taken when zero */ \
  X(JNE, "jne", I, kRegNone, Target) /* !zero */ \
  X(JG, "jg", I, kRegNone, Target)   /* !less && !zero */ \
  X(JGE, "jge", I, kRegNone, Target) /* !less || zero */ \
  X(JL, "jl", I, kRegNone, Target)   /* less && !zero */ \
  X(JLE, "jle", I, kRegNone, Target) /* less || zero */ \
  X(JA, "ja", I, kRegNone, Target)   /* !below && !zero */ \
  X(JAE, "jae", I, kRegNone, Target) /* !below || zero */ \
  X(JB, "jb", I, kRegNone, Target)   /* below && !zero */ \
  X(JBE, "jbe", I, kRegNone, Target) /* below || zero */ \
  X(FTOI, "ftoi", R, kRegDS, RegReg) /* rD = (int) float rS, toward zero */ \
  X(ITOF, "itof", R, kRegDS, RegReg) /* rD = (float) signed rS */ \
  X(FADD, "fadd", R, kRegDS, RegReg) \
  X(FSUB, "fsub", R, kRegDS, RegReg) /* float flags (below = 0), then rD -= rS */ \
  X(FMUL, "fmul", R, kRegDS, RegReg) \
  X(FDIV, "fdiv", R, kRegDS, RegReg) /* no error on a zero divisor */ \
  X(FMOD, "fmod", R, kRegDS, RegReg) /* C fmod, rounded to float */ \
  X(FNEG, "fneg", R, kRegDS, RegReg) /* rD = -rS (float) */

// ---- opcodes ----------------------------------------------------------------

#define TALVEN_OPCODE_ENUM(NAME, ...) OP_##NAME,
enum Opcode : std::uint8_t { TALVEN_OPCODES(TALVEN_OPCODE_ENUM) };
#undef TALVEN_OPCODE_ENUM

// The number of instructions; opcodes from kOpcodeCount to 255 are invalid
// code.
#define TALVEN_OPCODE_ONE(...) +1
constexpr unsigned kOpcodeCount = 0 TALVEN_OPCODES(TALVEN_OPCODE_ONE);
#undef TALVEN_OPCODE_ONE

// The opcode numbers are the image format: the code generator's output and
// the calling convention below depend on them.
static_assert(OP_NOP == 0 && OP_TRAP == 1 && OP_MOVL_LOAD_FRAME == 16 && OP_RET == 38 &&
              OP_ADD_IMM == 59 && OP_JMP == 73 && OP_FNEG == 91 && kOpcodeCount == 92);

// ---- operand forms, register use, operand styles ------------------------------

enum class OperandForm : std::uint8_t {
  None,  // opcode only                   length 1
  T,     // 16-bit builtin number         length 3
  R,     // register byte                 length 2
  RI,    // register byte, 32-bit word    length 6
  I,     // 32-bit word                   length 5
};

// Which nibbles of the register byte an instruction reads as registers.
enum RegUse : std::uint8_t {
  kRegNone = 0,
  kRegD = 1,  // low nibble
  kRegS = 2,  // high nibble
  kRegDS = 3,
};

// How the disassembler writes the operands (destination first; addresses
// and jump targets in hex, immediates and frame displacements as signed
// decimals).
enum class OperandStyle : std::uint8_t {
  None,        //                          nop, ret
  Number,      // 12                       unsigned decimal
  Imm,         // -12                      signed decimal
  Target,      // 0x00010000               address
  RegReg,      // rD, rS
  RegImm,      // rD, -12
  RegAddr,     // rD, 0x00010000
  RegAbs,      // rD, [0x00010000]
  RegFrame,    // rD, [r6-8]
  RegInd,      // rD, [rS]
  RegIndImm,   // rD, [rS], -12
  RegByteInd,  // rD, byte [rS]
  RegWordInd,  // rD, word [rS]
  AbsReg,      // [0x00010000], rS
  FrameReg,    // [r6-8], rS
  IndReg,      // [rD], rS
  Src,         // rS
  Dst,         // rD
  Abs,         // [0x00010000]
  Frame,       // [r6-8]
};

struct OpInfo {
  const char* mnemonic;  // as the disassembler prints it
  OperandForm form;
  std::uint8_t regs;  // RegUse
  OperandStyle style;
};

// Indexed by opcode; kOpcodeCount entries.
#define TALVEN_OPCODE_INFO(NAME, mnemonic, form, regs, style) \
  {mnemonic, OperandForm::form, regs, OperandStyle::style},
inline constexpr OpInfo kOpInfo[] = {TALVEN_OPCODES(TALVEN_OPCODE_INFO)};
#undef TALVEN_OPCODE_INFO
static_assert(sizeof kOpInfo / sizeof kOpInfo[0] == kOpcodeCount);

constexpr std::size_t operand_form_length(OperandForm f) {
  switch (f) {
    case OperandForm::None: return 1;
    case OperandForm::T: return 3;
    case OperandForm::R: return 2;
    case OperandForm::RI: return 6;
    case OperandForm::I: return 5;
  }
  return 1;
}

// Length in bytes of the instruction with this opcode (1 for invalid code).
constexpr std::size_t op_length(std::uint8_t op) {
  return op < kOpcodeCount ? operand_form_length(kOpInfo[op].form) : 1;
}

constexpr bool op_valid(std::uint8_t op) { return op < kOpcodeCount; }

// ---- registers --------------------------------------------------------------

constexpr unsigned kRegisterCount = 8;
constexpr unsigned kRegResult = 0;  // function and builtin results
constexpr unsigned kRegFrame = 6;   // frame pointer
constexpr unsigned kRegStack = 7;   // stack pointer (points at the last word pushed)

// A register byte with a nibble above 7 is invalid code.
constexpr std::uint8_t kRegByteInvalidMask = 0x88;

constexpr std::uint8_t reg_byte(unsigned d, unsigned s) {
  return static_cast<std::uint8_t>(((s & 15u) << 4) | (d & 15u));
}
// The register byte of a single-register instruction: both nibbles.
constexpr std::uint8_t reg_byte(unsigned r) { return reg_byte(r, r); }
constexpr unsigned reg_d(std::uint8_t rb) { return rb & 15u; }
constexpr unsigned reg_s(std::uint8_t rb) { return rb >> 4; }

// ---- calling convention and frames ------------------------------------------

// Return address that finishes a context when `ret` pops it.
constexpr std::uint32_t kReturnFinish = 0xFFFFFFFFu;
// Bytes `enter` saves below the old r7: r1..r6, r1 lowest.
constexpr std::uint32_t kFrameSaveBytes = 24;
// The caller's stack adjustment after a call that pushed arguments,
// `add r7, 4*n`: opcode 59, register byte 0x77, then the immediate.
// Read as a 16-bit little-endian value it is 0x773B.
constexpr std::uint16_t kArgAdjustPrefix = 0x773B;
// Instructions in one time slice.
constexpr unsigned kSliceLength = 255;

// ---- condition codes ------------------------------------------------------

// Whether the conditional jump `op` (OP_JE..OP_JBE) is taken with these flags.
constexpr bool jump_taken(std::uint8_t op, bool zero, bool less, bool below) {
  switch (op) {
    case OP_JE: return zero;
    case OP_JNE: return !zero;
    case OP_JG: return !less && !zero;
    case OP_JGE: return !less || zero;
    case OP_JL: return less && !zero;
    case OP_JLE: return less || zero;
    case OP_JA: return !below && !zero;
    case OP_JAE: return !below || zero;
    case OP_JB: return below && !zero;
    case OP_JBE: return below || zero;
    default: return false;
  }
}

// ---- little-endian words and encoders -----------------------------------------
//
// Each encoder writes one instruction at `out` and returns its length. The
// caller owns the bounds (it knows the program area's capacity).

inline void put_u16(std::uint8_t* out, std::uint16_t v) {
  out[0] = static_cast<std::uint8_t>(v);
  out[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put_u32(std::uint8_t* out, std::uint32_t v) {
  out[0] = static_cast<std::uint8_t>(v);
  out[1] = static_cast<std::uint8_t>(v >> 8);
  out[2] = static_cast<std::uint8_t>(v >> 16);
  out[3] = static_cast<std::uint8_t>(v >> 24);
}
inline std::uint16_t get_u16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t get_u32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Form None: nop, ret.
inline std::size_t encode_op(std::uint8_t* out, Opcode op) {
  out[0] = op;
  return 1;
}
// Form T: trap n.
inline std::size_t encode_trap(std::uint8_t* out, std::uint16_t n) {
  out[0] = OP_TRAP;
  put_u16(out + 1, n);
  return 3;
}
// Form R with destination and source.
inline std::size_t encode_r(std::uint8_t* out, Opcode op, unsigned d, unsigned s) {
  out[0] = op;
  out[1] = reg_byte(d, s);
  return 2;
}
// Form R with one register (push, pop, call through a register).
inline std::size_t encode_r(std::uint8_t* out, Opcode op, unsigned r) {
  return encode_r(out, op, r, r);
}
// Form RI with destination and source.
inline std::size_t encode_ri(std::uint8_t* out, Opcode op, unsigned d, unsigned s,
                             std::uint32_t imm) {
  out[0] = op;
  out[1] = reg_byte(d, s);
  put_u32(out + 2, imm);
  return 6;
}
// Form RI with one register.
inline std::size_t encode_ri(std::uint8_t* out, Opcode op, unsigned r, std::uint32_t imm) {
  return encode_ri(out, op, r, r, imm);
}
// Form I.
inline std::size_t encode_i(std::uint8_t* out, Opcode op, std::uint32_t imm) {
  out[0] = op;
  put_u32(out + 1, imm);
  return 5;
}

}  // namespace talven::script

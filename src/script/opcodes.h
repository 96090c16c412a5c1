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

// ---- opcodes --------------------------------------------------------------
//
// Loads and stores come in three addressing forms:
//   _ABS    [I]          absolute address
//   _FRAME  [r6 + I]     frame displacement
//   _IND    [rS] / [rD]  through a register
// The 32-bit move is "movl" in all of them; its enum names say LOAD/STORE.
enum Opcode : std::uint8_t {
  OP_NOP = 0,          // -                     nothing
  OP_TRAP = 1,         // T                     trap handler (n, context)
  OP_XCHG = 2,         // R                     swap rD, rS
  OP_MOVL_RR = 3,      // R                     rD = rS
  OP_MOVL_IMM = 4,     // R(D) I                rD = I
  OP_MOVL_ADDR = 5,    // R(D) I                rD = I (an address: global, string, function)
  OP_MOVBL_ABS = 6,    // R(D) I                rD = zx8 [I]
  OP_MOVSBL_ABS = 7,   // R(D) I                rD = sx8 [I]
  OP_MOVWL_ABS = 8,    // R(D) I                rD = zx16 [I]
  OP_MOVSWL_ABS = 9,   // R(D) I                rD = sx16 [I]
  OP_MOVL_LOAD_ABS = 10,   // R(D) I            rD = [I]
  OP_LEA = 11,         // R(D) I                rD = r6 + I
  OP_MOVBL_FRAME = 12,     // R(D) I            rD = zx8 [r6 + I]
  OP_MOVSBL_FRAME = 13,    // R(D) I            rD = sx8 [r6 + I]
  OP_MOVWL_FRAME = 14,     // R(D) I            rD = zx16 [r6 + I]
  OP_MOVSWL_FRAME = 15,    // R(D) I            rD = sx16 [r6 + I]
  OP_MOVL_LOAD_FRAME = 16, // R(D) I            rD = [r6 + I]
  OP_MOVBL_IND = 17,   // R                     rD = zx8 [rS]
  OP_MOVSBL_IND = 18,  // R                     rD = sx8 [rS]
  OP_MOVWL_IND = 19,   // R                     rD = zx16 [rS]
  OP_MOVSWL_IND = 20,  // R                     rD = sx16 [rS]
  OP_MOVL_LOAD_IND = 21,   // R                 rD = [rS]
  OP_MOVB_ABS = 22,    // R(S) I                8-bit [I] = rS
  OP_MOVW_ABS = 23,    // R(S) I                16-bit [I] = rS
  OP_MOVL_STORE_ABS = 24,  // R(S) I            [I] = rS
  OP_MOVB_FRAME = 25,  // R(S) I                8-bit [r6 + I] = rS
  OP_MOVW_FRAME = 26,  // R(S) I                16-bit [r6 + I] = rS
  OP_MOVL_STORE_FRAME = 27, // R(S) I           [r6 + I] = rS
  OP_MOVB_IND = 28,    // R                     8-bit [rD] = rS
  OP_MOVW_IND = 29,    // R                     16-bit [rD] = rS
  OP_MOVL_STORE_IND = 30,  // R                 [rD] = rS
  OP_PUSH = 31,        // R(S)                  r7 -= 4; [r7] = rS
  OP_PUSH_IMM = 32,    // I                     r7 -= 4; [r7] = I
  OP_POP = 33,         // R(D)                  rD = [r7]; r7 += 4
  OP_ENTER = 34,       // I                     open a frame of I bytes
  OP_LEAVE = 35,       // I                     close a frame of I bytes
  OP_CALL = 36,        // I                     push return address; pc = I
  OP_CALL_REG = 37,    // R(S)                  push return address; pc = rS
  OP_RET = 38,         // -                     pc = pop; 0xFFFFFFFF finishes
  OP_PREOP = 39,       // R I                   [rS] += I; rD = new value
  OP_POSTOP = 40,      // R I                   rD = [rS]; [rS] += I
  OP_PREINC = 41,      // R                     8-bit ++[rS]; rD = zx new
  OP_POSTINC = 42,     // R                     rD = zx8 [rS]; [rS]++
  OP_PREDEC = 43,      // R                     8-bit --[rS]; rD = zx new
  OP_POSTDEC = 44,     // R                     rD = zx8 [rS]; [rS]--
  OP_PREINC16 = 45,    // R                     as PREINC on 16 bits
  OP_POSTINC16 = 46,   // R
  OP_PREDEC16 = 47,    // R
  OP_POSTDEC16 = 48,   // R
  OP_ZEROB_ABS = 49,   // I                     zero_flag = (8-bit [I] == 0)
  OP_ZEROW_ABS = 50,   // I
  OP_ZEROL_ABS = 51,   // I
  OP_ZEROB_FRAME = 52, // I                     zero_flag = (8-bit [r6 + I] == 0)
  OP_ZEROW_FRAME = 53, // I
  OP_ZEROL_FRAME = 54, // I
  OP_CMP = 55,         // R                     flags from rD vs rS
  OP_CMP_IMM = 56,     // R(D) I                flags from rD vs I
  OP_SET = 57,         // R                     rD = (rS == 0)
  OP_ADD = 58,         // R                     rD += rS
  OP_ADD_IMM = 59,     // R(D) I                rD += I
  OP_SUB = 60,         // R                     flags as CMP, then rD -= rS
  OP_SUB_IMM = 61,     // R(D) I                flags as CMP_IMM, then rD -= I
  OP_MUL = 62,         // R                     rD *= rS (low 32 bits)
  OP_DIV = 63,         // R                     rD /= rS signed; 0 divisor: error 0
  OP_MOD = 64,         // R                     rD %= rS signed; 0 divisor: error 0
  OP_SHL = 65,         // R                     rD <<= rS & 31
  OP_SHR = 66,         // R                     rD >>= rS & 31 (logical)
  OP_SAR = 67,         // R                     rD >>= rS & 31 (arithmetic)
  OP_NEG = 68,         // R                     rD = -rS
  OP_NOT = 69,         // R                     rD = ~rS
  OP_AND = 70,         // R
  OP_OR = 71,          // R
  OP_XOR = 72,         // R
  OP_JMP = 73,         // I                     pc = I
  OP_JE = 74,          // I   zero
  OP_JNE = 75,         // I   !zero
  OP_JG = 76,          // I   !less && !zero
  OP_JGE = 77,         // I   !less || zero
  OP_JL = 78,          // I   less && !zero
  OP_JLE = 79,         // I   less || zero
  OP_JA = 80,          // I   !below && !zero
  OP_JAE = 81,         // I   !below || zero
  OP_JB = 82,          // I   below && !zero
  OP_JBE = 83,         // I   below || zero
  OP_FTOI = 84,        // R                     rD = (int) float rS, toward zero
  OP_ITOF = 85,        // R                     rD = (float) signed rS
  OP_FADD = 86,        // R
  OP_FSUB = 87,        // R                     float flags (below = 0), then rD -= rS
  OP_FMUL = 88,        // R
  OP_FDIV = 89,        // R                     no error on a zero divisor
  OP_FMOD = 90,        // R                     C fmod, rounded to float
  OP_FNEG = 91,        // R                     rD = -rS (float)
};

// Opcodes 92..255 are invalid code.
constexpr unsigned kOpcodeCount = 92;

// ---- operand forms and lengths --------------------------------------------

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

struct OpInfo {
  const char* mnemonic;  // as the disassembler prints it
  OperandForm form;
  std::uint8_t regs;     // RegUse
};

// Indexed by opcode; kOpcodeCount entries.
inline constexpr OpInfo kOpInfo[kOpcodeCount] = {
    {"nop", OperandForm::None, kRegNone},      // 0
    {"trap", OperandForm::T, kRegNone},        // 1
    {"xchg", OperandForm::R, kRegDS},          // 2
    {"movl", OperandForm::R, kRegDS},          // 3
    {"movl", OperandForm::RI, kRegD},          // 4
    {"movl", OperandForm::RI, kRegD},          // 5
    {"movbl", OperandForm::RI, kRegD},         // 6
    {"movsbl", OperandForm::RI, kRegD},        // 7
    {"movwl", OperandForm::RI, kRegD},         // 8
    {"movswl", OperandForm::RI, kRegD},        // 9
    {"movl", OperandForm::RI, kRegD},          // 10
    {"lea", OperandForm::RI, kRegD},           // 11
    {"movbl", OperandForm::RI, kRegD},         // 12
    {"movsbl", OperandForm::RI, kRegD},        // 13
    {"movwl", OperandForm::RI, kRegD},         // 14
    {"movswl", OperandForm::RI, kRegD},        // 15
    {"movl", OperandForm::RI, kRegD},          // 16
    {"movbl", OperandForm::R, kRegDS},         // 17
    {"movsbl", OperandForm::R, kRegDS},        // 18
    {"movwl", OperandForm::R, kRegDS},         // 19
    {"movswl", OperandForm::R, kRegDS},        // 20
    {"movl", OperandForm::R, kRegDS},          // 21
    {"movb", OperandForm::RI, kRegS},          // 22
    {"movw", OperandForm::RI, kRegS},          // 23
    {"movl", OperandForm::RI, kRegS},          // 24
    {"movb", OperandForm::RI, kRegS},          // 25
    {"movw", OperandForm::RI, kRegS},          // 26
    {"movl", OperandForm::RI, kRegS},          // 27
    {"movb", OperandForm::R, kRegDS},          // 28
    {"movw", OperandForm::R, kRegDS},          // 29
    {"movl", OperandForm::R, kRegDS},          // 30
    {"push", OperandForm::R, kRegS},           // 31
    {"push", OperandForm::I, kRegNone},        // 32
    {"pop", OperandForm::R, kRegD},            // 33
    {"enter", OperandForm::I, kRegNone},       // 34
    {"leave", OperandForm::I, kRegNone},       // 35
    {"call", OperandForm::I, kRegNone},        // 36
    {"call", OperandForm::R, kRegS},           // 37
    {"ret", OperandForm::None, kRegNone},      // 38
    {"preop", OperandForm::RI, kRegDS},        // 39
    {"postop", OperandForm::RI, kRegDS},       // 40
    {"preinc", OperandForm::R, kRegDS},        // 41
    {"postinc", OperandForm::R, kRegDS},       // 42
    {"predec", OperandForm::R, kRegDS},        // 43
    {"postdec", OperandForm::R, kRegDS},       // 44
    {"preinc", OperandForm::R, kRegDS},        // 45 (16-bit)
    {"postinc", OperandForm::R, kRegDS},       // 46
    {"predec", OperandForm::R, kRegDS},        // 47
    {"postdec", OperandForm::R, kRegDS},       // 48
    {"zerob", OperandForm::I, kRegNone},       // 49
    {"zerow", OperandForm::I, kRegNone},       // 50
    {"zerol", OperandForm::I, kRegNone},       // 51
    {"zerob", OperandForm::I, kRegNone},       // 52
    {"zerow", OperandForm::I, kRegNone},       // 53
    {"zerol", OperandForm::I, kRegNone},       // 54
    {"cmp", OperandForm::R, kRegDS},           // 55
    {"cmp", OperandForm::RI, kRegD},           // 56
    {"set", OperandForm::R, kRegDS},           // 57
    {"add", OperandForm::R, kRegDS},           // 58
    {"add", OperandForm::RI, kRegD},           // 59
    {"sub", OperandForm::R, kRegDS},           // 60
    {"sub", OperandForm::RI, kRegD},           // 61
    {"mul", OperandForm::R, kRegDS},           // 62
    {"div", OperandForm::R, kRegDS},           // 63
    {"mod", OperandForm::R, kRegDS},           // 64
    {"shl", OperandForm::R, kRegDS},           // 65
    {"shr", OperandForm::R, kRegDS},           // 66
    {"sar", OperandForm::R, kRegDS},           // 67
    {"neg", OperandForm::R, kRegDS},           // 68
    {"not", OperandForm::R, kRegDS},           // 69
    {"and", OperandForm::R, kRegDS},           // 70
    {"or", OperandForm::R, kRegDS},            // 71
    {"xor", OperandForm::R, kRegDS},           // 72
    {"jmp", OperandForm::I, kRegNone},         // 73
    {"je", OperandForm::I, kRegNone},          // 74
    {"jne", OperandForm::I, kRegNone},         // 75
    {"jg", OperandForm::I, kRegNone},          // 76
    {"jge", OperandForm::I, kRegNone},         // 77
    {"jl", OperandForm::I, kRegNone},          // 78
    {"jle", OperandForm::I, kRegNone},         // 79
    {"ja", OperandForm::I, kRegNone},          // 80
    {"jae", OperandForm::I, kRegNone},         // 81
    {"jb", OperandForm::I, kRegNone},          // 82
    {"jbe", OperandForm::I, kRegNone},         // 83
    {"ftoi", OperandForm::R, kRegDS},          // 84
    {"itof", OperandForm::R, kRegDS},          // 85
    {"fadd", OperandForm::R, kRegDS},          // 86
    {"fsub", OperandForm::R, kRegDS},          // 87
    {"fmul", OperandForm::R, kRegDS},          // 88
    {"fdiv", OperandForm::R, kRegDS},          // 89
    {"fmod", OperandForm::R, kRegDS},          // 90
    {"fneg", OperandForm::R, kRegDS},          // 91
};

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

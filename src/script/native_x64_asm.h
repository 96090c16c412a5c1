// An x86-64 encoder for the instruction forms machine code for blocks needs.
//
// Each operation is named after the instruction it writes; the operand
// order is the destination first (Intel order). 32-bit operations are the
// default (they clear the upper half of the destination); the 64-bit ones
// say so in their names. Jumps take 32-bit displacements, written as 0 and
// patched once their target is known. Memory operands are [base + index
// << scale + disp] with any general register as base or index except rsp
// as index. Only x86-64 hosts compile code that uses it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace talven::script::x64 {

enum Reg : int {
  RAX = 0,
  RCX = 1,
  RDX = 2,
  RBX = 3,
  RSP = 4,
  RBP = 5,
  RSI = 6,
  RDI = 7,
  R8 = 8,
  R9 = 9,
  R10 = 10,
  R11 = 11,
  R12 = 12,
  R13 = 13,
  R14 = 14,
  R15 = 15
};

// Condition codes of jcc and setcc.
enum Cond : std::uint8_t {
  kB = 2,
  kAE = 3,
  kE = 4,
  kNE = 5,
  kBE = 6,
  kA = 7,
  kNP = 0xB,
  kL = 0xC,
  kGE = 0xD,
  kLE = 0xE,
  kG = 0xF
};

struct Mem {
  int base;
  int index = -1;  // -1: none
  std::int32_t disp = 0;
  int scale = 0;  // log2 of the index factor
};

class Asm {
 public:
  std::vector<std::uint8_t> code;

  std::size_t here() const { return code.size(); }

  // ---- moves ----
  void mov(int dst, int src) { op_r(false, {0x89}, src, dst); }
  void mov64(int dst, int src) { op_r(true, {0x89}, src, dst); }
  void mov_imm(int dst, std::uint32_t imm) {
    if (dst >= 8) byte(0x41);
    byte(0xB8 + (dst & 7));
    u32(imm);
  }
  void mov_imm64(int dst, std::uint64_t imm) {
    byte(0x48 | ((dst >> 3) & 1));
    byte(0xB8 + (dst & 7));
    u64(imm);
  }
  void load32(int dst, const Mem& m) { op_m(false, {0x8B}, dst, m); }
  void load64(int dst, const Mem& m) { op_m(true, {0x8B}, dst, m); }
  void load8_zx(int dst, const Mem& m) { op_m(false, {0x0F, 0xB6}, dst, m); }
  void load8_sx(int dst, const Mem& m) { op_m(false, {0x0F, 0xBE}, dst, m); }
  void load16_zx(int dst, const Mem& m) { op_m(false, {0x0F, 0xB7}, dst, m); }
  void load16_sx(int dst, const Mem& m) { op_m(false, {0x0F, 0xBF}, dst, m); }
  void store32(const Mem& m, int src) { op_m(false, {0x89}, src, m); }
  void store64(const Mem& m, int src) { op_m(true, {0x89}, src, m); }
  void store16(const Mem& m, int src) { op_m(false, {0x89}, src, m, false, kOperand16); }
  void store8(const Mem& m, int src) { op_m(false, {0x88}, src, m, true); }
  void store32_imm(const Mem& m, std::uint32_t imm) {
    op_m(false, {0xC7}, 0, m);
    u32(imm);
  }
  void store8_imm(const Mem& m, std::uint8_t imm) {
    op_m(false, {0xC6}, 0, m);
    byte(imm);
  }
  // dst = zero-extended low 8 or 16 bits of src
  void zx8(int dst, int src) { op_r(false, {0x0F, 0xB6}, dst, src); }
  void zx16(int dst, int src) { op_r(false, {0x0F, 0xB7}, dst, src); }
  void lea32(int dst, const Mem& m) { op_m(false, {0x8D}, dst, m); }

  // ---- arithmetic and logic (dst op= src) ----
  void add(int dst, int src) { op_r(false, {0x01}, src, dst); }
  void or_(int dst, int src) { op_r(false, {0x09}, src, dst); }
  void and_(int dst, int src) { op_r(false, {0x21}, src, dst); }
  void sub(int dst, int src) { op_r(false, {0x29}, src, dst); }
  void xor_(int dst, int src) { op_r(false, {0x31}, src, dst); }
  void cmp(int a, int b) { op_r(false, {0x39}, b, a); }
  void and8(int dst, int src) { op_r(false, {0x20}, src, dst); }  // al, cl, dl, bl only
  void add_imm(int dst, std::uint32_t imm) { group1_r(false, kAdd, dst, imm); }
  void add64_imm(int dst, std::uint32_t imm) { group1_r(true, kAdd, dst, imm); }
  void sub_imm(int dst, std::uint32_t imm) { group1_r(false, kSub, dst, imm); }
  void xor_imm(int dst, std::uint32_t imm) { group1_r(false, kXor, dst, imm); }
  void cmp_imm(int a, std::uint32_t imm) { group1_r(false, kCmp, a, imm); }
  // 32-bit memory operand: m op= imm
  void add_mem_imm(const Mem& m, std::uint32_t imm) { group1_m(kAdd, m, imm); }
  void sub_mem_imm(const Mem& m, std::uint32_t imm) { group1_m(kSub, m, imm); }
  // register against or minus a memory operand
  void sub(int dst, const Mem& m) { op_m(false, {0x2B}, dst, m); }
  void cmp(int a, const Mem& m) { op_m(false, {0x3B}, a, m); }
  void cmp64(int a, const Mem& m) { op_m(true, {0x3B}, a, m); }
  // flags of an 8-, 16- or 32-bit memory operand compared with 0
  void cmp_zero(const Mem& m, int width) {
    if (width == 1) op_m(false, {0x80}, kCmp, m);
    else if (width == 2) op_m(false, {0x83}, kCmp, m, false, kOperand16);
    else op_m(false, {0x83}, kCmp, m);
    byte(0);
  }
  void test(int a, int b) { op_r(false, {0x85}, b, a); }
  void test64(int a, int b) { op_r(true, {0x85}, b, a); }
  // carry = bit `index` of `bits`
  void bt(int bits, int index) { op_r(false, {0x0F, 0xA3}, index, bits); }
  void imul(int dst, int src) { op_r(false, {0x0F, 0xAF}, dst, src); }
  void neg(int r) { op_r(false, {0xF7}, kNeg, r); }
  void not_(int r) { op_r(false, {0xF7}, kNot, r); }
  // edx:eax / r signed: quotient in eax, remainder in edx
  void idiv(int r) { op_r(false, {0xF7}, kIdiv, r); }
  void cdq() { byte(0x99); }  // edx = the sign of eax
  void shl_cl(int r) { op_r(false, {0xD3}, kShl, r); }
  void shr_cl(int r) { op_r(false, {0xD3}, kShr, r); }
  void sar_cl(int r) { op_r(false, {0xD3}, kSar, r); }
  void setcc(Cond cc, const Mem& m) { op_m(false, {0x0F, 0x90u + cc}, 0, m); }
  void setcc(Cond cc, int r) { op_r(false, {0x0F, 0x90u + cc}, 0, r); }

  // ---- scalar single floats ----
  void movd_to_xmm(int xmm, int r) { op_r(false, {0x0F, 0x6E}, xmm, r, kOperand16); }
  void movd_from_xmm(int r, int xmm) { op_r(false, {0x0F, 0x7E}, xmm, r, kOperand16); }
  void addss(int dst, int src) { op_r(false, {0x0F, 0x58}, dst, src, kScalarSingle); }
  void mulss(int dst, int src) { op_r(false, {0x0F, 0x59}, dst, src, kScalarSingle); }
  void subss(int dst, int src) { op_r(false, {0x0F, 0x5C}, dst, src, kScalarSingle); }
  void divss(int dst, int src) { op_r(false, {0x0F, 0x5E}, dst, src, kScalarSingle); }
  void cvtsi2ss(int xmm, int r) { op_r(false, {0x0F, 0x2A}, xmm, r, kScalarSingle); }
  void cvttss2si(int r, int xmm) { op_r(false, {0x0F, 0x2C}, r, xmm, kScalarSingle); }
  void ucomiss(int a, int b) { op_r(false, {0x0F, 0x2E}, a, b); }

  // ---- control ----
  void jmp(int r) { op_r(false, {0xFF}, kJmpIndirect, r); }
  void jmp(const Mem& m) { op_m(false, {0xFF}, kJmpIndirect, m); }
  // Jumps with a 32-bit displacement: the returned position is patched.
  std::size_t jcc(Cond cc) {
    byte(0x0F);
    byte(0x80u + cc);
    const std::size_t at = here();
    u32(0);
    return at;
  }
  std::size_t jmp() {
    byte(0xE9);
    const std::size_t at = here();
    u32(0);
    return at;
  }
  void patch(std::size_t at, std::size_t target) {
    const auto rel = static_cast<std::int32_t>(static_cast<std::int64_t>(target) -
                                               static_cast<std::int64_t>(at + 4));
    std::memcpy(code.data() + at, &rel, 4);
  }
  void push(int r) {
    if (r >= 8) byte(0x41);
    byte(0x50 + (r & 7));
  }
  void pop(int r) {
    if (r >= 8) byte(0x41);
    byte(0x58 + (r & 7));
  }
  void ret() { byte(0xC3); }

 private:
  // ModRM reg-field digits of the grouped opcodes.
  enum Digit : int {
    kAdd = 0,
    kOr = 1,
    kAnd = 4,
    kSub = 5,
    kXor = 6,
    kCmp = 7,  // 80/81/83
    kNot = 2,
    kNeg = 3,
    kIdiv = 7,  // F7
    kShl = 4,
    kShr = 5,
    kSar = 7,          // D3
    kJmpIndirect = 4,  // FF
  };
  static constexpr unsigned kOperand16 = 0x66;
  static constexpr unsigned kScalarSingle = 0xF3;

  void byte(unsigned b) { code.push_back(static_cast<std::uint8_t>(b)); }
  void u32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) byte((v >> (8 * i)) & 0xFF);
  }
  void u64(std::uint64_t v) {
    for (int i = 0; i < 8; ++i) byte(static_cast<unsigned>((v >> (8 * i)) & 0xFF));
  }
  // REX prefix; byte_reg: the reg field names a byte register (spl..dil
  // need a REX to be reached).
  void rex(bool w, int reg, int index, int base, bool byte_reg = false) {
    const unsigned r = 0x40u | (w ? 8u : 0u) | (((reg >> 3) & 1) << 2) |
                       (((index >= 0 ? index : 0) >> 3 & 1) << 1) | ((base >> 3) & 1);
    if (r != 0x40u || (byte_reg && reg >= 4 && reg < 8)) byte(r);
  }
  void modrm_mem(int reg, const Mem& m) {
    const int b = m.base & 7;
    int mod = 2;
    if (m.disp == 0 && b != 5) mod = 0;
    else if (m.disp >= -128 && m.disp <= 127) mod = 1;
    if (m.index >= 0) {
      byte((mod << 6) | ((reg & 7) << 3) | 4);
      byte((m.scale << 6) | ((m.index & 7) << 3) | b);
    } else if (b == 4) {
      byte((mod << 6) | ((reg & 7) << 3) | 4);
      byte(0x24);
    } else {
      byte((mod << 6) | ((reg & 7) << 3) | b);
    }
    if (mod == 1) byte(static_cast<std::uint8_t>(m.disp));
    if (mod == 2) u32(static_cast<std::uint32_t>(m.disp));
  }
  void op_m(bool w, std::initializer_list<unsigned> opc, int reg, const Mem& m,
            bool byte_reg = false, unsigned prefix = 0) {
    if (prefix) byte(prefix);
    rex(w, reg, m.index, m.base, byte_reg);
    for (unsigned o : opc) byte(o);
    modrm_mem(reg, m);
  }
  void op_r(bool w, std::initializer_list<unsigned> opc, int reg, int rm, unsigned prefix = 0) {
    if (prefix) byte(prefix);
    rex(w, reg, -1, rm);
    for (unsigned o : opc) byte(o);
    byte(0xC0 | ((reg & 7) << 3) | (rm & 7));
  }
  void group1_r(bool w, Digit digit, int dst, std::uint32_t imm) {
    op_r(w, {0x81}, digit, dst);
    u32(imm);
  }
  void group1_m(Digit digit, const Mem& m, std::uint32_t imm) {
    op_m(false, {0x81}, digit, m);
    u32(imm);
  }
};

}  // namespace talven::script::x64

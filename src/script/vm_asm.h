// A small assembler for hand-written programs: tests of the interpreter and
// the dispatch benchmarks build their code with it.
//
//   VmAsm a(ctx->program);          // origin: where the code will live
//   auto loop = a.label();
//   a.movi(1, 10);
//   a.bind(loop);
//   a.subi(1, 1);
//   a.jne(loop);
//   a.ret();
//   a.load();                       // copies the bytes to the origin
//
// Labels may be used before they are bound; their absolute addresses are
// patched when bound. Register numbers are written as given, so invalid
// nibbles can be produced on purpose.
#pragma once

#include <cstdint>
#include <vector>

#include "base/address_space.h"
#include "script/opcodes.h"
#include "script/vm.h"

namespace talven::script {

class VmAsm {
 public:
  struct Label {
    int id = -1;
  };

  explicit VmAsm(Addr origin) : origin_(origin) {}

  Addr origin() const { return origin_; }
  // Address of the next byte to be emitted.
  Addr here() const { return origin_ + static_cast<Addr>(code_.size()); }
  const std::vector<std::uint8_t>& bytes() const { return code_; }

  Label label() {
    labels_.push_back(-1);
    return Label{static_cast<int>(labels_.size()) - 1};
  }
  void bind(Label l) {
    labels_[l.id] = static_cast<std::int64_t>(here());
    for (const Fixup& f : fixups_)
      if (f.label == l.id) put_u32(code_.data() + f.offset, here());
  }
  Addr address(Label l) const { return static_cast<Addr>(labels_[l.id]); }

  // ---- raw forms ------------------------------------------------------------
  void byte(std::uint8_t b) { code_.push_back(b); }
  void word(std::uint32_t w) {
    std::uint8_t b[4];
    put_u32(b, w);
    code_.insert(code_.end(), b, b + 4);
  }
  void op(Opcode o) { byte(o); }
  void r(Opcode o, unsigned d, unsigned s) {
    byte(o);
    byte(reg_byte(d, s));
  }
  void r1(Opcode o, unsigned reg) { r(o, reg, reg); }
  void ri(Opcode o, unsigned d, unsigned s, std::uint32_t imm) {
    r(o, d, s);
    word(imm);
  }
  void ri1(Opcode o, unsigned reg, std::uint32_t imm) { ri(o, reg, reg, imm); }
  void i(Opcode o, std::uint32_t imm) {
    byte(o);
    word(imm);
  }
  void i(Opcode o, Label target) {
    byte(o);
    word_to(target);
  }

  // ---- common instructions -----------------------------------------------------
  void nop() { op(OP_NOP); }
  void trap(std::uint16_t n) {
    byte(OP_TRAP);
    byte(static_cast<std::uint8_t>(n));
    byte(static_cast<std::uint8_t>(n >> 8));
  }
  void mov(unsigned d, unsigned s) { r(OP_MOVL_RR, d, s); }  // rD = rS
  void movi(unsigned d, std::int64_t imm) { ri1(OP_MOVL_IMM, d, static_cast<std::uint32_t>(imm)); }
  void mova(unsigned d, Label l) {  // rD = address
    r(OP_MOVL_ADDR, d, d);
    word_to(l);
  }
  void load(unsigned d, unsigned s) { r(OP_MOVL_LOAD_IND, d, s); }    // rD = [rS]
  void store(unsigned d, unsigned s) { r(OP_MOVL_STORE_IND, d, s); }  // [rD] = rS
  void load_frame(unsigned d, std::int32_t disp) {
    ri1(OP_MOVL_LOAD_FRAME, d, static_cast<std::uint32_t>(disp));
  }
  void store_frame(std::int32_t disp, unsigned s) {
    ri1(OP_MOVL_STORE_FRAME, s, static_cast<std::uint32_t>(disp));
  }
  void push(unsigned s) { r1(OP_PUSH, s); }
  void push_imm(std::uint32_t imm) { i(OP_PUSH_IMM, imm); }
  void pop(unsigned d) { r1(OP_POP, d); }
  void enter(std::uint32_t n) { i(OP_ENTER, n); }
  void leave(std::uint32_t n) { i(OP_LEAVE, n); }
  void call(Label l) { i(OP_CALL, l); }
  void call(std::uint32_t target) { i(OP_CALL, target); }
  void ret() { op(OP_RET); }
  void add(unsigned d, unsigned s) { r(OP_ADD, d, s); }
  void addi(unsigned d, std::int64_t imm) { ri1(OP_ADD_IMM, d, static_cast<std::uint32_t>(imm)); }
  void sub(unsigned d, unsigned s) { r(OP_SUB, d, s); }
  void subi(unsigned d, std::int64_t imm) { ri1(OP_SUB_IMM, d, static_cast<std::uint32_t>(imm)); }
  void cmp(unsigned d, unsigned s) { r(OP_CMP, d, s); }
  void cmpi(unsigned d, std::int64_t imm) { ri1(OP_CMP_IMM, d, static_cast<std::uint32_t>(imm)); }
  void jmp(Label l) { i(OP_JMP, l); }
  void jcc(Opcode o, Label l) { i(o, l); }
  void je(Label l) { i(OP_JE, l); }
  void jne(Label l) { i(OP_JNE, l); }
  void jl(Label l) { i(OP_JL, l); }
  void jle(Label l) { i(OP_JLE, l); }
  void jg(Label l) { i(OP_JG, l); }
  void jge(Label l) { i(OP_JGE, l); }
  // The caller's stack adjustment after a call that pushed n arguments.
  void drop_args(unsigned n) { addi(kRegStack, static_cast<std::int64_t>(4 * n)); }

  // Copies the code to its origin through the checked API; false when it
  // does not fit in script memory.
  bool load() const {
    return write_bytes(origin_, code_.data(), static_cast<std::uint32_t>(code_.size()));
  }

 private:
  struct Fixup {
    std::size_t offset;
    int label;
  };
  void word_to(Label l) {
    if (labels_[l.id] >= 0) {
      word(static_cast<Addr>(labels_[l.id]));
    } else {
      fixups_.push_back({code_.size(), l.id});
      word(0);
    }
  }

  Addr origin_;
  std::vector<std::uint8_t> code_;
  std::vector<std::int64_t> labels_;
  std::vector<Fixup> fixups_;
};

}  // namespace talven::script

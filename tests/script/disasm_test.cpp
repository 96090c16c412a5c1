// The disassembler: operand syntax of every form, invalid bytes, cut-off
// instructions, and agreement with the instruction lengths.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "script/disasm.h"
#include "script/opcodes.h"
#include "script/vm_asm.h"

namespace talven::script {
namespace {

std::vector<std::string> lines_of(const std::string& listing) {
  std::vector<std::string> out;
  std::istringstream in(listing);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

std::string text_of(const VmAsm& a) {
  const DisasmLine l = disassemble_one(a.bytes().data(), a.bytes().size(), a.origin());
  EXPECT_EQ(l.length, a.bytes().size()) << l.text;
  return l.text;
}

TEST(Disasm, OperandSyntaxOfEachForm) {
  struct Case {
    void (*emit)(VmAsm&);
    const char* want;
  };
  const Case cases[] = {
      {[](VmAsm& a) { a.nop(); }, "nop"},
      {[](VmAsm& a) { a.ret(); }, "ret"},
      {[](VmAsm& a) { a.trap(326); }, "trap 326"},
      {[](VmAsm& a) { a.r(OP_XCHG, 1, 2); }, "xchg r1, r2"},
      {[](VmAsm& a) { a.mov(3, 7); }, "movl r3, r7"},
      {[](VmAsm& a) { a.movi(1, -5); }, "movl r1, -5"},
      {[](VmAsm& a) { a.ri1(OP_MOVL_ADDR, 2, 0x12345); }, "movl r2, 0x00012345"},
      {[](VmAsm& a) { a.ri1(OP_MOVSBL_ABS, 4, 0x20000); }, "movsbl r4, [0x00020000]"},
      {[](VmAsm& a) { a.ri1(OP_LEA, 1, static_cast<std::uint32_t>(-12)); }, "lea r1, [r6-12]"},
      {[](VmAsm& a) { a.load_frame(0, 8); }, "movl r0, [r6+8]"},
      {[](VmAsm& a) { a.ri1(OP_MOVWL_FRAME, 0, 0); }, "movwl r0, [r6]"},
      {[](VmAsm& a) { a.r(OP_MOVSWL_IND, 5, 3); }, "movswl r5, [r3]"},
      {[](VmAsm& a) { a.ri1(OP_MOVB_ABS, 2, 0x10010); }, "movb [0x00010010], r2"},
      {[](VmAsm& a) { a.store_frame(-4, 1); }, "movl [r6-4], r1"},
      {[](VmAsm& a) { a.store(4, 2); }, "movl [r4], r2"},
      {[](VmAsm& a) { a.push(5); }, "push r5"},
      {[](VmAsm& a) { a.push_imm(0xFFFFFFFF); }, "push -1"},
      {[](VmAsm& a) { a.pop(1); }, "pop r1"},
      {[](VmAsm& a) { a.enter(16); }, "enter 16"},
      {[](VmAsm& a) { a.leave(16); }, "leave 16"},
      {[](VmAsm& a) { a.call(0x10020); }, "call 0x00010020"},
      {[](VmAsm& a) { a.r1(OP_CALL_REG, 3); }, "call r3"},
      {[](VmAsm& a) { a.ri(OP_PREOP, 1, 2, 4); }, "preop r1, [r2], 4"},
      {[](VmAsm& a) { a.ri(OP_POSTOP, 1, 2, static_cast<std::uint32_t>(-4)); },
       "postop r1, [r2], -4"},
      {[](VmAsm& a) { a.r(OP_POSTINC, 0, 1); }, "postinc r0, byte [r1]"},
      {[](VmAsm& a) { a.r(OP_PREDEC16, 0, 1); }, "predec r0, word [r1]"},
      {[](VmAsm& a) { a.i(OP_ZEROW_ABS, 0x10000); }, "zerow [0x00010000]"},
      {[](VmAsm& a) { a.i(OP_ZEROL_FRAME, static_cast<std::uint32_t>(-8)); }, "zerol [r6-8]"},
      {[](VmAsm& a) { a.cmpi(2, 100); }, "cmp r2, 100"},
      {[](VmAsm& a) { a.drop_args(2); }, "add r7, 8"},
      {[](VmAsm& a) { a.r(OP_SAR, 1, 2); }, "sar r1, r2"},
      {[](VmAsm& a) { a.i(OP_JBE, 0x10000); }, "jbe 0x00010000"},
      {[](VmAsm& a) { a.r(OP_FNEG, 1, 1); }, "fneg r1, r1"},
  };
  for (const Case& c : cases) {
    VmAsm a(0x10000);
    c.emit(a);
    EXPECT_EQ(text_of(a), c.want);
  }
}

TEST(Disasm, EveryOpcodeHasItsLengthAndMnemonic) {
  for (unsigned op = 0; op < kOpcodeCount; ++op) {
    std::uint8_t buf[8] = {static_cast<std::uint8_t>(op), 0x21, 1, 2, 3, 4, 0xEE, 0xEE};
    const DisasmLine l = disassemble_one(buf, sizeof buf, 0x10000);
    EXPECT_TRUE(l.valid) << op;
    EXPECT_EQ(l.length, op_length(static_cast<std::uint8_t>(op))) << op;
    EXPECT_EQ(l.text.rfind(kOpInfo[op].mnemonic, 0), 0u) << op << ": " << l.text;
  }
  // Lengths by form, as the encoders produce them.
  std::uint8_t buf[8];
  EXPECT_EQ(encode_op(buf, OP_RET), op_length(OP_RET));
  EXPECT_EQ(encode_trap(buf, 5), op_length(OP_TRAP));
  EXPECT_EQ(encode_r(buf, OP_ADD, 1, 2), op_length(OP_ADD));
  EXPECT_EQ(encode_ri(buf, OP_ADD_IMM, 7, 8), op_length(OP_ADD_IMM));
  EXPECT_EQ(get_u16(buf), kArgAdjustPrefix);
  EXPECT_EQ(encode_i(buf, OP_JMP, 0x10000), op_length(OP_JMP));
}

TEST(Disasm, ListingWithInvalidAndCutOffBytes) {
  VmAsm a(0x10000);
  a.movi(1, 5);    // 0x10000
  a.byte(92);      // 0x10006 invalid opcode
  a.byte(OP_ADD);  // 0x10007 with a bad register byte
  a.byte(0x98);
  a.jmp(a.label());  // patched below
  a.byte(OP_CALL);   // cut off: only two operand bytes follow
  a.byte(0x01);
  a.byte(0x02);
  const auto& b = a.bytes();
  const auto lines = lines_of(disassemble(b.data(), b.size(), a.origin()));
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[0], "00010000  04 11 05 00 00 00  movl r1, 5");
  EXPECT_EQ(lines[1], "00010006  5C                 db 0x5C");
  EXPECT_EQ(lines[2], "00010007  3A                 db 0x3A");
  EXPECT_EQ(lines[3], "00010008  98                 db 0x98");
  EXPECT_EQ(lines[4], "00010009  49 00 00 00 00     jmp 0x00000000");
  EXPECT_EQ(lines[5], "0001000E  24                 db 0x24");
  EXPECT_EQ(lines[6], "0001000F  01                 db 0x01");
  EXPECT_EQ(lines[7], "00010010  02                 db 0x02");
  EXPECT_EQ(disassemble(b.data(), 0, a.origin()), "");
  EXPECT_EQ(disassemble_range(0, 16), "");  // not script memory
}

}  // namespace
}  // namespace talven::script

// Program images, byte for byte: the entry jump, frames, builtin stubs, the
// calling sequence, data placement, labels, measuring mode and the area's
// capacity.
#include <gtest/gtest.h>

#include "script/opcodes.h"
#include "script/compiler_test_support.h"

namespace talven::script::test {
namespace {

// Expected code, assembled with the instruction encoders.
struct Code {
  std::vector<std::uint8_t> bytes;
  void op(Opcode o) { bytes.push_back(o); }
  void i(Opcode o, std::uint32_t v) {
    std::uint8_t b[5];
    bytes.insert(bytes.end(), b, b + encode_i(b, o, v));
  }
  void r(Opcode o, unsigned d, unsigned s) {
    std::uint8_t b[2];
    bytes.insert(bytes.end(), b, b + encode_r(b, o, d, s));
  }
  void ri(Opcode o, unsigned d, unsigned s, std::uint32_t v) {
    std::uint8_t b[6];
    bytes.insert(bytes.end(), b, b + encode_ri(b, o, d, s, v));
  }
  void trap(std::uint16_t n) {
    std::uint8_t b[3];
    bytes.insert(bytes.end(), b, b + encode_trap(b, n));
  }
  std::uint32_t size() const { return static_cast<std::uint32_t>(bytes.size()); }
};

TEST(CompilerImage, EmptyMainIsSixteenBytes) {
  for (const char* text : {"void main() { }", "int main() { }", "main() {}"}) {
    Compiled c = compile_text(text);
    ASSERT_TRUE(c.ok()) << text << c.result.messages;
    EXPECT_EQ(c.result.code_size, 16u);
    EXPECT_EQ(c.result.data_size, 0u);
    Code want;
    want.i(OP_JMP, c.program() + 5);
    want.i(OP_ENTER, 0);
    want.i(OP_LEAVE, 0);
    want.op(OP_RET);
    EXPECT_EQ(c.code(), want.bytes) << c.listing();
    // It runs: the outermost leave finishes the context.
    run_to_end(c.ctx.get());
    EXPECT_EQ(c.ctx->state, kVmFinished);
  }
}

TEST(CompilerImage, BuiltinStubsAreTrapAndReturn) {
  Compiled c = compile_text(
      "#trap\nint first();\n"
      "#trap\nint second(int a, char *b);\n"
      "#trap int third(float x);\n"
      "void main() { }\n");
  ASSERT_TRUE(c.ok()) << c.result.messages;
  EXPECT_EQ(c.result.code_size, 16u + 3 * 4);
  Code want;
  want.i(OP_JMP, c.program() + 17);
  for (std::uint16_t n = 0; n < 3; ++n) {
    want.trap(n);
    want.op(OP_RET);
  }
  want.i(OP_ENTER, 0);
  want.i(OP_LEAVE, 0);
  want.op(OP_RET);
  EXPECT_EQ(c.code(), want.bytes) << c.listing();
}

TEST(CompilerImage, CallsPushArgumentsLastFirstAndAdjustTheStack) {
  Compiled c = compile_text(
      "int f(int a, int b, int c) { return c; }\n"
      "int g() { return 7; }\n"
      "int main() { g(); return f(1, 2, 3); }\n");
  ASSERT_TRUE(c.ok()) << c.result.messages;
  Addr p = c.program();
  Code want;
  want.i(OP_JMP, p + 49);
  // f: enter, r0 = third argument (r6 + 16), jump to the exit.
  want.i(OP_ENTER, 0);
  want.ri(OP_MOVL_LOAD_FRAME, 0, 0, 16);
  want.i(OP_JMP, p + 21);
  want.i(OP_LEAVE, 0);
  want.op(OP_RET);
  // g
  want.i(OP_ENTER, 0);
  want.ri(OP_MOVL_IMM, 0, 0, 7);
  want.i(OP_JMP, p + 43);
  want.i(OP_LEAVE, 0);
  want.op(OP_RET);
  ASSERT_EQ(want.size(), 49u);
  // main: a call without arguments has no stack adjustment; three
  // arguments are pushed from the last and removed with add r7, 12.
  want.i(OP_ENTER, 0);
  want.i(OP_CALL, p + 27);
  want.i(OP_PUSH_IMM, 3);
  want.i(OP_PUSH_IMM, 2);
  want.i(OP_PUSH_IMM, 1);
  want.i(OP_CALL, p + 5);
  want.ri(OP_ADD_IMM, kRegStack, kRegStack, 12);
  want.i(OP_JMP, want.size() + p + 5);
  want.i(OP_LEAVE, 0);
  want.op(OP_RET);
  EXPECT_EQ(c.code(), want.bytes) << c.listing();
  EXPECT_EQ(run_to_end(c.ctx.get()), 3u);
}

TEST(CompilerImage, ForwardCallsArePatchedWhenTheFunctionIsDefined) {
  Compiled c = compile_text(
      "int main() { return later(2) + later(3); }\n"
      "int later(int v) { return v * 10; }\n");
  ASSERT_TRUE(c.ok()) << c.result.messages;
  EXPECT_EQ(run_to_end(c.ctx.get()), 50u);
  // Every call operand points at later's enter.
  std::vector<std::uint8_t> code = c.code();
  std::vector<std::uint32_t> targets;
  for (std::size_t i = 0; i + 5 <= code.size(); ++i)
    if (code[i] == OP_CALL) targets.push_back(get_u32(&code[i + 1]));
  ASSERT_EQ(targets.size(), 2u);
  EXPECT_EQ(targets[0], targets[1]);
  std::uint8_t op = 0;
  ASSERT_TRUE(load8(targets[0], op));
  EXPECT_EQ(op, OP_ENTER);
}

TEST(CompilerImage, FrameLayoutOfParametersAndLocals) {
  Compiled c = compile_text(
      "int f(int a, char b) { int x; char y; short z; x = a; y = b; z = 3; return x + y + z; }\n"
      "int main() { return f(100, 20); }\n");
  ASSERT_TRUE(c.ok()) << c.result.messages;
  std::string l = c.listing();
  // Locals below the 20 saved bytes, in declaration order; frame size 7.
  EXPECT_NE(l.find("enter 7"), std::string::npos) << l;
  EXPECT_NE(l.find("leave 7"), std::string::npos) << l;
  EXPECT_NE(l.find("[r6-24]"), std::string::npos) << l;  // x: 4 bytes
  EXPECT_NE(l.find("[r6-25]"), std::string::npos) << l;  // y: 1 byte
  EXPECT_NE(l.find("[r6-27]"), std::string::npos) << l;  // z: 2 bytes
  EXPECT_NE(l.find("[r6+8]"), std::string::npos) << l;   // a
  EXPECT_NE(l.find("[r6+12]"), std::string::npos) << l;  // b reads the low byte of its slot
  EXPECT_EQ(run_to_end(c.ctx.get()), 123u);
}

TEST(CompilerImage, DataGrowsDownFromTheEndOfTheArea) {
  Compiled c = compile_text(
      "int a = 5;\n"
      "char b = 'x';\n"
      "char *s = \"hi\";\n"
      "float f = 2;\n"
      "int main() { return a; }\n");
  ASSERT_TRUE(c.ok()) << c.result.messages;
  // a (4), b (1), s (4), "hi" (3), f (4): 16 bytes of data.
  EXPECT_EQ(c.result.data_size, 16u);
  Addr end = c.program() + c.result.code_size + c.result.data_size;
  EXPECT_EQ(word_at(end - 4), 5u);
  std::uint8_t b = 0;
  load8(end - 5, b);
  EXPECT_EQ(b, 'x');
  EXPECT_EQ(word_at(end - 9), end - 12);  // s points at the string placed after it
  EXPECT_EQ(std::string(*cstr(end - 12)), "hi");
  EXPECT_EQ(word_at(end - 16), 0x40000000u);  // 2.0f
  EXPECT_EQ(run_to_end(c.ctx.get()), 5u);
}

TEST(CompilerImage, StringLiteralsArePlacedEachTime) {
  Compiled c =
      compile_text("int main() { char *a; char *b; a = \"same\"; b = \"same\"; return a != b; }");
  ASSERT_TRUE(c.ok()) << c.result.messages;
  EXPECT_EQ(c.result.data_size, 10u);
  EXPECT_EQ(run_to_end(c.ctx.get()), 1u);
}

TEST(CompilerImage, FunctionAddressesInGlobalDataArePatched) {
  Compiled c = compile_text(
      "int later();\n"
      "int (*fp)() = later;\n"
      "int main() { return fp(4); }\n"
      "int later(int v) { return v + 1; }\n");
  ASSERT_TRUE(c.ok()) << c.result.messages;
  Addr end = c.program() + c.result.code_size + c.result.data_size;
  std::uint8_t op = 0;
  ASSERT_TRUE(load8(word_at(end - 4), op));
  EXPECT_EQ(op, OP_ENTER);
  EXPECT_EQ(run_to_end(c.ctx.get()), 5u);
}

TEST(CompilerImage, ConstantConditionCompilesOnlyTheChosenBranch) {
  Compiled c = compile_text(
      "int f() { return 1; }\n"
      "int g() { return 2; }\n"
      "int main() { return 1 ? f() : g(); }\n");
  ASSERT_TRUE(c.ok()) << c.result.messages;
  std::vector<std::uint8_t> code = c.code();
  int calls = 0;
  Addr target = 0;
  for (std::size_t i = 27; i + 5 <= code.size(); ++i) {
    // main starts after the two 11-byte functions and the entry jump
    if (code[i] == OP_CALL) {
      ++calls;
      target = get_u32(&code[i + 1]);
    }
  }
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(target, c.program() + 5);  // f
  EXPECT_EQ(run_to_end(c.ctx.get()), 1u);
}

TEST(CompilerImage, ConditionsUseTestsAndJumpsOfTheirKind) {
  Compiled c = compile_text(
      "char c; short s; int i; unsigned u;\n"
      "int main() { int n;\n"
      "  if (c) n = 1; if (s) n = 2; if (i) n = 3;\n"
      "  if (u < 5) n = 4; if (i < 5) n = 5; if (!i) n = 6;\n"
      "  while (0) ;\n"
      "  return n; }\n");
  ASSERT_TRUE(c.ok()) << c.result.messages;
  std::string l = c.listing();
  EXPECT_NE(l.find("zerob"), std::string::npos) << l;
  EXPECT_NE(l.find("zerow"), std::string::npos) << l;
  EXPECT_NE(l.find("zerol"), std::string::npos) << l;
  EXPECT_NE(l.find("jae"), std::string::npos) << l;  // unsigned <, false branch
  EXPECT_NE(l.find("jge"), std::string::npos) << l;  // signed <, false branch
  EXPECT_NE(l.find("jne"), std::string::npos) << l;  // !i jumps away when i is set
}

TEST(CompilerImage, MeasuringWritesNothingAndGivesTheSameSizes) {
  const char* text =
      "int table[4] = {1, 2, 3, 4};\n"
      "char *s = \"text\";\n"
      "int f(int v) { return v * 2; }\n"
      "int main() { int i, t; t = 0; for (i = 0; i < 4; i++) t += f(table[i]); return t; }\n";
  Sources src;
  src.files["main.c"] = text;
  CompileOptions o = options_for(src);
  // Measuring mode must not touch script memory: fill a block with a
  // pattern and check it afterwards.
  Addr probe = script_alloc(256);
  std::vector<std::uint8_t> pattern(256, 0xA5);
  write_bytes(probe, pattern.data(), 256);
  CompileResult m = compile_script("main.c", 0, 0, o);
  ASSERT_TRUE(m.ok) << m.messages;
  std::vector<std::uint8_t> after(256);
  read_bytes(probe, after.data(), 256);
  EXPECT_EQ(after, pattern);
  script_free(probe);

  Compiled c = compile_sources(src);
  ASSERT_TRUE(c.ok());
  EXPECT_EQ(c.result.code_size, m.code_size);
  EXPECT_EQ(c.result.data_size, m.data_size);
  EXPECT_EQ(run_to_end(c.ctx.get()), 20u);
}

TEST(CompilerImage, AreaThatFitsExactlyAndOneByteShort) {
  const char* text = "int g = 3; char *s = \"abc\"; int main() { return g + s[1]; }\n";
  Sources src;
  src.files["main.c"] = text;
  CompileOptions o = options_for(src);
  CompileResult m = compile_script("main.c", 0, 0, o);
  ASSERT_TRUE(m.ok);
  std::uint32_t size = m.code_size + m.data_size;

  VmPtr exact(vm_create(static_cast<std::int32_t>(size), 4096));
  CompileResult r = compile_script("main.c", exact->program, size, o);
  EXPECT_TRUE(r.ok) << r.messages;
  EXPECT_EQ(run_to_end(exact.get()), 3u + 'b');

  VmPtr shorter(vm_create(static_cast<std::int32_t>(size - 1), 4096));
  r = compile_script("main.c", shorter->program, size - 1, o);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, 23);
  EXPECT_NE(r.messages.find("プログラム領域が足りません。"), std::string::npos) << r.messages;
  // The user count after the area is never touched.
  EXPECT_EQ(word_at(shorter->program_users), 1u);
}

TEST(CompilerImage, SwitchTestsFollowTheChainOfFailedComparisons) {
  Compiled c = compile_text(
      "int pick(int v) { int r; r = 0;\n"
      "  switch (v) { default: r = 9; break; case 1: case 2: r = 12; case 3: r += 3; break; }\n"
      "  return r; }\n"
      "int main() { return pick(1) * 10000 + pick(3) * 100 + pick(7); }\n");
  ASSERT_TRUE(c.ok()) << c.result.messages;
  std::string l = c.listing();
  EXPECT_NE(l.find("cmp r0, 1"), std::string::npos) << l;
  EXPECT_NE(l.find("cmp r0, 3"), std::string::npos) << l;
  EXPECT_EQ(run_to_end(c.ctx.get()), 15u * 10000 + 3 * 100 + 9);
}

TEST(CompilerImage, SpillsWhenSixRegistersAreNotEnough) {
  // Left-nested operators hold one register per pending level.
  Compiled c = compile_text(
      "int main() { int a; a = 1;\n"
      "  return (((((((((a - 1) - 2) - 3) - 4) - 5) - 6) - 7) - 8) - 9); }\n");
  ASSERT_TRUE(c.ok()) << c.result.messages;
  std::string l = c.listing();
  EXPECT_NE(l.find("push r"), std::string::npos) << l;
  EXPECT_NE(l.find("pop r"), std::string::npos) << l;
  EXPECT_EQ(static_cast<int>(run_to_end(c.ctx.get())), 1 - 45);
}

}  // namespace
}  // namespace talven::script::test

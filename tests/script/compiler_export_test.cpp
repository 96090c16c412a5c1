// The export list across compilations, and the symbol table on its own.
#include <gtest/gtest.h>

#include "script/compiler_test_support.h"
#include "script/symbols.h"

namespace talven::script::test {
namespace {

class CompilerExport : public ::testing::Test {
 protected:
  void SetUp() override { clear_exports(); }
  void TearDown() override { clear_exports(); }
};

TEST_F(CompilerExport, LinksAcrossCompilations) {
  Compiled lib = compile_text(
      "extern int twice(int v) { return v * 2; }\n"
      "extern float half(int v) { return v / 2.0; }\n"
      "extern char *name() { return \"lib\"; }\n"
      "int main() { }\n");
  ASSERT_TRUE(lib.ok()) << lib.result.messages;
  ASSERT_EQ(export_count(), 3u);
  std::optional<ExportedFunction> e = find_export("twice");
  ASSERT_TRUE(e);
  EXPECT_GE(e->address, lib.program());
  EXPECT_LT(e->address, lib.program() + lib.result.code_size);
  EXPECT_EQ(find_export("half")->return_basic, 7);
  EXPECT_EQ(find_export("name")->return_depth, 1);

  // No declaration needed; the exported return types hold.
  Compiled user = compile_text(
      "int main() { char *n; n = name(); return twice(21) + (int)(half(9) * 2) * 1000 + n[0] * "
      "100000; }\n");
  ASSERT_TRUE(user.ok()) << user.result.messages;
  EXPECT_EQ(run_to_end(user.ctx.get()), 42u + 9000 + 'l' * 100000);
  // An exported name may be taken as an address without a call.
  Compiled addr = compile_text("int main() { int (*f)(); f = twice; return f(5); }\n");
  ASSERT_TRUE(addr.ok()) << addr.result.messages;
  EXPECT_EQ(run_to_end(addr.ctx.get()), 10u);
}

TEST_F(CompilerExport, OnlySuccessfulRealCompilationsExport) {
  Sources src;
  src.files["main.c"] = "extern int f() { return 1; }\nint main() { }\n";
  CompileResult m = compile_script("main.c", 0, 0, options_for(src));
  EXPECT_TRUE(m.ok);
  EXPECT_EQ(export_count(), 0u);  // measuring exports nothing
  Compiled failed = compile_text("extern int f() { return 1; }\nint main() { undefined(); }\n");
  EXPECT_FALSE(failed.ok());
  EXPECT_EQ(export_count(), 0u);
  // Names are limited to 31 bytes.
  std::string longname(32, 'x');
  Compiled bad = compile_text("extern int " + longname + "() { }\nint main() { }\n");
  EXPECT_EQ(bad.result.error, 8);
}

TEST_F(CompilerExport, EntriesAreUpdatedInPlaceAndDieWithTheirArea) {
  Compiled first = compile_text("extern int value() { return 1; }\nint main() { }\n");
  ASSERT_TRUE(first.ok());
  Compiled second = compile_text("extern int value() { return 2; }\nint main() { }\n");
  ASSERT_TRUE(second.ok());
  EXPECT_EQ(export_count(), 1u);
  Compiled user = compile_text("int main() { return value(); }\n");
  ASSERT_TRUE(user.ok());
  EXPECT_EQ(run_to_end(user.ctx.get()), 2u);

  // Forgotten with its area: no longer linked.
  forget_exports_in(second.program(), second.result.code_size + second.result.data_size);
  EXPECT_EQ(export_count(), 0u);
  Compiled orphan = compile_text("int main() { return value(); }\n");
  EXPECT_FALSE(orphan.ok());
  EXPECT_NE(orphan.result.messages.find("value 関数は定義されていません。"), std::string::npos);

  // An area freed without being forgotten is not linked either.
  Compiled third = compile_text("extern int other() { return 3; }\nint main() { }\n");
  ASSERT_TRUE(third.ok());
  third.ctx.reset();
  Compiled stale = compile_text("int main() { return other(); }\n");
  EXPECT_FALSE(stale.ok());
}

TEST_F(CompilerExport, ExportListHoldsAtMost1024Entries) {
  std::string text;
  for (int i = 0; i < 1024; ++i) text += "extern int e" + std::to_string(i) + "() { }\n";
  Compiled full = compile_text(text + "int main() { }\n");
  ASSERT_TRUE(full.ok()) << full.result.messages;
  EXPECT_EQ(export_count(), 1024u);
  Compiled more = compile_text("extern int one_more() { }\nint main() { }\n");
  EXPECT_EQ(more.result.error, 8);
  // Redefining an exported name still fits.
  Compiled again = compile_text("extern int e5() { return 5; }\nint main() { }\n");
  EXPECT_TRUE(again.ok()) << again.result.messages;
}

TEST(CompilerSymbols, HashAndProbing) {
  // h = h * 7 ^ c over signed bytes.
  EXPECT_EQ(symbol_hash("a"), 'a');
  EXPECT_EQ(symbol_hash("ab"), ('a' * 7) ^ 'b');
  EXPECT_EQ(symbol_hash("\x81"), -127);
  EXPECT_EQ(symbol_hash("ab.suffix"), symbol_hash("ab"));

  SymbolTable t;
  int g = t.add("name", false, kSymGlobalVar, 1, 100);
  int l = t.add("name", true, kSymLocalVar, 1, 8);
  EXPECT_LT(g, kGlobalSlots);
  EXPECT_GE(l, kGlobalSlots);
  EXPECT_EQ(g, static_cast<int>(static_cast<std::uint32_t>(symbol_hash("name")) % kGlobalSlots));
  EXPECT_EQ(l, kGlobalSlots + (symbol_hash("name") & 1023));
  EXPECT_EQ(t.lookup("name"), l);  // the local part first
  t.clear_locals();
  EXPECT_EQ(t.lookup("name"), g);
  // A suffix after '.' is invisible: "hidden.1" answers to "hidden" only.
  int h = t.add("hidden.1", false, kSymGlobalVar, 1, 0);
  EXPECT_EQ(t.find("hidden", false), h);
  EXPECT_EQ(t.find("hidden.1", false), -1);
  EXPECT_EQ(t.find("hidde", false), -1);
  // Colliding names probe to the next slot.
  int a = t.add("x", false, kSymGlobalVar, 1, 0);
  std::string twin;
  for (int i = 0; i < 100000 && twin.empty(); ++i) {
    std::string s = "y" + std::to_string(i);
    if (static_cast<std::uint32_t>(symbol_hash(s)) % kGlobalSlots == static_cast<std::uint32_t>(a))
      twin = s;
  }
  ASSERT_FALSE(twin.empty());
  EXPECT_EQ(t.add(twin, false, kSymGlobalVar, 1, 0), (a + 1) % kGlobalSlots);
}

TEST(CompilerSymbols, FullPartsAndPool) {
  SymbolTable t;
  for (int i = 0; i < kLocalSlots; ++i) t.add("l" + std::to_string(i), true, kSymLocalVar, 1, 0);
  try {
    t.find("absent", true);
    FAIL() << "a full local part must be reported";
  } catch (const CompileError& e) {
    EXPECT_EQ(e.number, cerr::kLocalsFull);
  }
  std::string big(100000, 'p');
  t.pool_add(big.data(), big.size());
  t.pool_add(big.data(), big.size());
  try {
    t.pool_add(big.data(), big.size());
    FAIL() << "a full pool must be reported";
  } catch (const CompileError& e) {
    EXPECT_EQ(e.number, cerr::kPoolFull);
  }
}

}  // namespace
}  // namespace talven::script::test

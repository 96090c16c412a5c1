// The generated builtin reference: it agrees with the table, reads the
// records' layouts right, and docs/builtins.md is what the binary generates.
#include "app/builtin_docs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "runtime/builtins.h"
#include "script/sdk_header.h"

namespace talven {
namespace {

TEST(BuiltinDocs, EveryBuiltinHasItsTableEntryAndAComment) {
  BuiltinReference ref = read_builtin_reference(script::builtin_sdk_header());
  EXPECT_TRUE(ref.problems.empty()) << ref.problems.front();
  ASSERT_EQ(ref.builtins.size(), runtime::kBuiltinCount);
  for (const BuiltinDoc& b : ref.builtins) {
    EXPECT_EQ(b.name, runtime::builtin_table[b.number].name);
    EXPECT_FALSE(b.summary.empty()) << b.name;
    EXPECT_FALSE(b.family.empty()) << b.name;
  }
  EXPECT_EQ(ref.builtins[326].name, "log_out");
  EXPECT_EQ(ref.builtins[326].argc, -1);
  EXPECT_EQ(ref.builtins[5].parameters.size(), 4u);  // thd_begin: a function pointer counts once
}

TEST(BuiltinDocs, RecordLayoutsArePackedAndNested) {
  BuiltinReference ref = read_builtin_reference(script::builtin_sdk_header());
  std::map<std::string, int> sizes;
  for (const RecordDoc& r : ref.records) sizes[r.name] = r.size;
  EXPECT_EQ(sizes["BlendMode"], 12);
  EXPECT_EQ(sizes["Sprite"], 144);
  EXPECT_EQ(sizes["HitArea"], 44);
  for (const RecordDoc& r : ref.records) {
    if (r.name != "Sprite") continue;
    for (const RecordField& f : r.fields) {
      if (f.name == "blend") {
        EXPECT_EQ(f.offset, 68);
      }
      if (f.name == "source[4]") {
        EXPECT_EQ(f.size, 16);
      }
    }
  }
  EXPECT_FALSE(ref.notes.empty());
}

TEST(BuiltinDocs, DisagreementsAreReported) {
  BuiltinReference ref = read_builtin_reference(
      "// ---- a ----\n#trap  // first\nint jump(char *s);\n#trap\nint nothere(int a, int b);\n");
  ASSERT_EQ(ref.builtins.size(), 2u);
  EXPECT_EQ(ref.builtins[0].summary, "first");
  std::string all;
  for (const std::string& p : ref.problems) all += p + "\n";
  EXPECT_NE(all.find("builtin 1 is call in the table but nothere in the header"), std::string::npos)
      << all;
  EXPECT_NE(all.find("nothere has no comment"), std::string::npos) << all;
  EXPECT_NE(all.find("the header declares 2 builtins, the table 327"), std::string::npos) << all;
  EXPECT_NE(builtin_reference_markdown(ref).find("disagree"), std::string::npos);
}

TEST(BuiltinDocs, TheDocumentIsUpToDate) {
  const std::filesystem::path doc =
      std::filesystem::path(TALVEN_TEST_DATA).parent_path().parent_path() / "docs" / "builtins.md";
  std::ifstream in(doc, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  EXPECT_EQ(s.str(),
            builtin_reference_markdown(read_builtin_reference(script::builtin_sdk_header())))
      << "docs/builtins.md is regenerated when talven is built";
}

TEST(BuiltinDocs, FamilyNotesAndNamedConstantsAreRead) {
  std::string header =
      "// ---- a ----\n#trap  // first\nint jump(char *s);\n"
      "// A note on jump:\n//   jump(\"next.c\");\n\n"
      "#trap  // second\nint call(char *s);\n"
      "// ---- records the runtime shares with scripts ----\n"
      "// Two flags.\n#define ONE 1\n#define MIX(a, b) ((a) | (b) << 8)\n\n"
      "// ---- key codes ----\n// Many keys.\n";
  for (int i = 0; i < 13; ++i) header += "#define K_" + std::to_string(i) + " 0x0" + "\n";
  BuiltinReference ref = read_builtin_reference(header);
  ASSERT_EQ(ref.family_notes.size(), 1u);
  EXPECT_EQ(ref.family_notes[0].family, "a");
  EXPECT_EQ(ref.family_notes[0].text, "A note on jump:\n  jump(\"next.c\");\n");
  ASSERT_EQ(ref.constants.size(), 2u);  // sections after the records stay in the records part
  EXPECT_EQ(ref.constants[0].comment, "Two flags.\n");
  ASSERT_EQ(ref.constants[0].constants.size(), 2u);
  EXPECT_EQ(ref.constants[0].constants[1].name, "MIX(a, b)");
  EXPECT_EQ(ref.constants[0].constants[1].value, "((a) | (b) << 8)");
  EXPECT_EQ(ref.constants[1].constants.size(), 13u);
  const std::string md = builtin_reference_markdown(ref);
  // The note follows its family's table, its indented line as code.
  auto note = md.find("A note on jump:");
  ASSERT_NE(note, std::string::npos) << md;
  EXPECT_LT(md.find("| 0 | `jump`"), note);
  EXPECT_NE(md.find("```c\njump(\"next.c\");\n```", note), std::string::npos) << md;
  EXPECT_NE(md.find("| `MIX(a, b)` | `((a) \\| (b) << 8)` |"), std::string::npos) << md;
  // A long run takes four names to a row.
  EXPECT_NE(md.find("| `K_0` | `0x0` | `K_1` | `0x0` | `K_2` | `0x0` | `K_3` | `0x0` |"),
            std::string::npos)
      << md;
}

}  // namespace
}  // namespace talven

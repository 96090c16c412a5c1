// Malformed sources never crash the compiler: random bytes, truncated and
// mutated programs, unbalanced braces, huge literals. Every outcome is a
// result (success, or an error number with a message), and whenever
// measuring succeeds the real compilation agrees with it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "base/cp932.h"
#include "script/compiler_test_support.h"

namespace talven::script::test {
namespace {

void check_outcome(const std::string& text) {
  Sources src;
  src.files["main.c"] = text;
  src.files["inc.h"] = text.substr(0, text.size() / 2);
  Compiled c = compile_sources(src);
  const CompileResult& r = c.result;
  ASSERT_GE(r.error, -1);
  ASSERT_LT(r.error, 25);
  ASSERT_TRUE(r.ok || !r.messages.empty());
  ASSERT_TRUE(cp932::is_valid_utf8(r.messages));
  ASSERT_LE(r.messages.size(), 8191u);
  if (c.measured.ok) {
    ASSERT_TRUE(r.ok) << r.messages;
    ASSERT_EQ(r.code_size, c.measured.code_size);
    ASSERT_EQ(r.data_size, c.measured.data_size);
  }
}

std::vector<std::string> sample_programs() {
  std::vector<std::string> out;
  std::filesystem::path dir = std::filesystem::path(TALVEN_TEST_DATA) / ".." / "scripts";
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".c") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    out.push_back(s.str());
  }
  return out;
}

TEST(CompilerFuzz, RandomBytes) {
  std::mt19937 rng(12345);
  for (int i = 0; i < 300; ++i) {
    std::string text(rng() % 600, '\0');
    for (char& ch : text) ch = static_cast<char>(rng());
    check_outcome(text);
    // Random text made of the language's own characters.
    const char alphabet[] = "int main(){}[];,.*&+-/%<>=!~^|?:'\"\\#x01 \n\t\x82\xa0";
    for (char& ch : text) ch = alphabet[rng() % (sizeof alphabet - 1)];
    check_outcome(text);
  }
}

TEST(CompilerFuzz, TruncatedAndMutatedPrograms) {
  std::mt19937 rng(777);
  for (const std::string& program : sample_programs()) {
    for (std::size_t cut = 0; cut < program.size(); cut += 1 + rng() % 97)
      check_outcome(program.substr(0, cut));
    for (int i = 0; i < 150; ++i) {
      std::string text = program;
      for (int k = 0; k < 4; ++k) {
        std::size_t at = rng() % text.size();
        switch (rng() % 4) {
          case 0: text[at] = static_cast<char>(rng()); break;
          case 1: text.erase(at, 1 + rng() % 20); break;
          case 2: text.insert(at, text.substr(rng() % text.size(), rng() % 40)); break;
          default: text.insert(at, 1, "{}()[];,\"'#/*"[rng() % 13]); break;
        }
        if (text.empty()) text = "x";
      }
      check_outcome(text);
    }
  }
}

TEST(CompilerFuzz, UnbalancedAndHugeInputs) {
  check_outcome("int main() {{{{ return 1; }\n");
  check_outcome("int main() { return 1; }}}}}\n");
  check_outcome("int main() { return ((((1); }\n");
  check_outcome("int main() { return 1)))); }\n");
  check_outcome("int main() { int a[99999999999]; }\n");
  check_outcome("int a[2147483647]; int b[2147483647]; int main() { }\n");
  check_outcome("int main() { return " + std::string(4000, '9') + "; }\n");
  check_outcome("int main() { return 1." + std::string(4000, '5') + "; }\n");
  check_outcome("char *s = \"" + std::string(4080, 'x') + "\";\nint main() { }\n");
  check_outcome("#define A(x) A(x) A(x)\nint main() { A(1); }\n");
  check_outcome("#include \"main.c\"\n#include \"inc.h\"\nint main() { }\n");
  std::string many_strings;
  for (int i = 0; i < 200; ++i)
    many_strings += "char *s" + std::to_string(i) + " = \"" + std::string(2000, 'q') + "\";\n";
  check_outcome(many_strings + "int main() { }\n");
  std::string args = "int f() { }\nint main() { f(";
  for (int i = 0; i < 900; ++i) args += "1,";
  check_outcome(args + "1); }\n");
}

}  // namespace
}  // namespace talven::script::test

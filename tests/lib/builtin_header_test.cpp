// The builtin header shipped for game authors (sdk/talven.h) against the
// builtin table: every builtin in trap-number order, with as many
// parameters as the table's argument count, and a script that includes it
// reaching the right builtins through the compiler and the trap dispatcher.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "base/address_space.h"
#include "base/config.h"
#include "runtime/builtins.h"
#include "runtime/trap.h"
#include "script/compiler.h"
#include "script/opcodes.h"
#include "script/vm.h"

namespace talven::runtime {
namespace {

std::string header_text() {
  std::filesystem::path path =
      std::filesystem::path(TALVEN_TEST_DATA) / ".." / ".." / "sdk" / "talven.h";
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Declared {
  std::string name;
  int params;
};

// The declarations that follow #trap lines, in order.
std::vector<Declared> trap_declarations(const std::string& text) {
  std::vector<Declared> out;
  std::istringstream lines(text);
  std::string line;
  bool pending = false;
  std::regex decl(R"(^\s*(?:unsigned|int|float|char|void)\s*\**\s*([a-z_0-9]+)\((.*)\);\s*$)");
  while (std::getline(lines, line)) {
    if (line.rfind("#trap", 0) == 0) {
      EXPECT_FALSE(pending) << "two #trap lines in a row";
      pending = true;
      continue;
    }
    std::smatch m;
    if (pending && std::regex_match(line, m, decl)) {
      std::string params = m[2];
      int count = 0, depth = 0;
      bool any = false;
      for (char c : params) {
        if (c == '(') ++depth;
        if (c == ')') --depth;
        if (c == ',' && depth == 0) ++count;
        if (c != ' ') any = true;
      }
      out.push_back({m[1], any ? count + 1 : 0});
      pending = false;
    } else if (pending && !line.empty()) {
      ADD_FAILURE() << "no declaration after #trap: " << line;
      pending = false;
    }
  }
  return out;
}

TEST(BuiltinHeader, DeclaresEveryBuiltinInTableOrder) {
  std::vector<Declared> decls = trap_declarations(header_text());
  ASSERT_EQ(decls.size(), kBuiltinCount);
  for (std::size_t i = 0; i < kBuiltinCount; ++i) {
    const BuiltinEntry& e = builtin_table[i];
    EXPECT_EQ(decls[i].name, e.name) << "trap " << i;
    if (e.argc >= 0) EXPECT_EQ(decls[i].params, e.argc) << e.name;
    else EXPECT_GE(decls[i].params, 1) << e.name;  // variadic: the fixed part
  }
}

struct VmDeleter {
  void operator()(script::VmContext* c) const { script::vm_free(c); }
};

TEST(BuiltinHeader, CompilesToOneStubPerBuiltinAndReachesTheTable) {
  std::string header = header_text();
  script::CompileOptions o;
  o.script_dir = "";
  o.show_messages = false;
  o.always_record = true;
  o.loader = [&](const std::string& path, std::string& text) {
    if (path == "talven.h") {
      text = header;
      return 0;
    }
    if (path == "main.c") {
      text =
          "#include \"talven.h\"\n"
          "int main() {\n"
          "  char buf[32];\n"
          "  strcpy(buf, \"header\");\n"
          "  strcat(buf, \"-ok\");\n"
          "  return strlen(buf) * 1000 + abs(-7) + (int)(sqrt(16.0) * 10);\n"
          "}\n";
      return 0;
    }
    return 2;
  };
  script::CompileResult m = script::compile_script("main.c", 0, 0, o);
  ASSERT_TRUE(m.ok) << m.messages;
  std::uint32_t size = m.code_size + m.data_size;
  std::unique_ptr<script::VmContext, VmDeleter> ctx(
      script::vm_create(static_cast<std::int32_t>(size), 0x10000));
  ASSERT_TRUE(ctx);
  script::CompileResult r = script::compile_script("main.c", ctx->program, size, o);
  ASSERT_TRUE(r.ok) << r.messages;
  // The stubs follow the entry jump: trap n; ret for builtin n.
  for (std::uint32_t n = 0; n < kBuiltinCount; ++n) {
    std::uint8_t stub[4] = {};
    ASSERT_TRUE(read_bytes(ctx->program + 5 + 4 * n, stub, 4));
    EXPECT_EQ(stub[0], script::OP_TRAP);
    EXPECT_EQ(script::get_u16(stub + 1), n);
    EXPECT_EQ(stub[3], script::OP_RET);
  }
  // Calls reach the builtins (argument counts checked as in DebugMode).
  std::int32_t debug = config().DebugMode;
  config().DebugMode = 1;
  install_trap_dispatch(builtin_table);
  script::vm_stop_flag.clear();
  for (int i = 0; i < 100000 && ctx->state == script::kVmRunning; ++i) script::vm_run(ctx.get());
  script::vm_set_trap_handler(nullptr);
  config().DebugMode = debug;
  EXPECT_EQ(ctx->state, script::kVmFinished);
  EXPECT_EQ(ctx->r[0], 9u * 1000 + 7 + 40);
}

}  // namespace
}  // namespace talven::runtime

// The check and disasm tools on files in a temporary folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "script/script_tools.h"

namespace talven::script {
namespace {

class CompilerTools : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("talven_tools_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
    return (dir_ / name).string();
  }

  int run(std::vector<std::string> args, std::string& out) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    testing::internal::CaptureStdout();
    int status = run_script_tool(static_cast<int>(argv.size()), argv.data());
    out = testing::internal::GetCapturedStdout();
    return status;
  }

  std::filesystem::path dir_;
};

TEST_F(CompilerTools, CheckReportsDiagnosticsWithFileAndLine) {
  write("Helper.H", "int helper(int v) { return v * 2; }\n");
  std::string good = write("good.c", "#include \"helper.h\"\nint main() { return helper(2); }\n");
  std::string out;
  EXPECT_EQ(run({"check", good}, out), 0);
  EXPECT_NE(out.find("good.c: ok (code "), std::string::npos) << out;

  std::string bad = write("bad.c", "int main() {\n  int a;\n  a = (1;\n  return missing(a) + ;\n}\n");
  EXPECT_EQ(run({"check", bad}, out), 1);
  EXPECT_NE(out.find("bad.c(3) : ')' がありません\n"), std::string::npos) << out;
  EXPECT_NE(out.find("bad.c(4) : 式の記述に誤りがあります。\n"), std::string::npos) << out;

  std::string undefined = write("undef.c", "int main() {\n  return nowhere();\n}\n");
  EXPECT_EQ(run({"check", undefined}, out), 1);
  EXPECT_NE(out.find("undef.c(2) : nowhere 関数は定義されていません。"), std::string::npos) << out;
}

TEST_F(CompilerTools, DisasmPrintsTheImage) {
  std::string file = write("prog.c", "char *s = \"hi\";\nint main() { return s[1]; }\n");
  std::string out;
  EXPECT_EQ(run({"disasm", file}, out), 0);
  EXPECT_NE(out.find("enter 0"), std::string::npos) << out;
  EXPECT_NE(out.find("ret"), std::string::npos) << out;
  EXPECT_NE(out.find("; data"), std::string::npos) << out;
  EXPECT_NE(out.find("hi."), std::string::npos) << out;
}

TEST_F(CompilerTools, BadUsage) {
  std::string out;
  EXPECT_EQ(run({"check"}, out), 2);
  EXPECT_EQ(run({"disasm", "a.c", "b.c"}, out), 2);
  EXPECT_EQ(run({"check", "--config", "NoSuchKey=1", "a.c"}, out), 2);
  EXPECT_FALSE(is_script_tool("run"));
  EXPECT_TRUE(is_script_tool("check"));
  EXPECT_EQ(run({"check", (dir_ / "absent.c").string()}, out), 1);
}

}  // namespace
}  // namespace talven::script

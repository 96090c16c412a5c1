// The check and disasm tools on files in a temporary folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "base/config.h"
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

  std::string bad =
      write("bad.c", "int main() {\n  int a;\n  a = (1;\n  return missing(a) + ;\n}\n");
  EXPECT_EQ(run({"check", bad}, out), 1);
  EXPECT_NE(out.find("bad.c(3) : ')' がありません [missing ')']\n"), std::string::npos) << out;
  // A fatal error: its gloss, then the source line with a caret where
  // reading stood instead of the buffer's "??" marker.
  EXPECT_NE(out.find("bad.c(4) : 式の記述に誤りがあります。 [error 9: bad expression]\n"
                     "      return missing(a) + ;\n"
                     "                           ^\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("??"), std::string::npos) << out;

  std::string undefined = write("undef.c", "int main() {\n  return nowhere();\n}\n");
  EXPECT_EQ(run({"check", undefined}, out), 1);
  EXPECT_NE(out.find("undef.c(2) : nowhere 関数は定義されていません。 [function called or declared "
                     "but never defined]"),
            std::string::npos)
      << out;
}

TEST_F(CompilerTools, IncludeFoldersAndTheBuiltinSdkHeader) {
  // "talven.h" comes from the binary when the game has none.
  std::string game =
      write("game.c", "#include \"talven.h\"\nint main() { return abs(-3) + strlen(\"ab\"); }\n");
  std::string out;
  EXPECT_EQ(run({"check", game}, out), 0) << out;

  // -I folders are searched in order after the script's own folder.
  std::filesystem::create_directories(dir_ / "inc1");
  std::filesystem::create_directories(dir_ / "inc2");
  std::ofstream(dir_ / "inc2" / "shared.h") << "int shared() { return 2; }\n";
  std::ofstream(dir_ / "inc1" / "shared.h") << "int shared() { return 1 }\n";  // a missing ';'
  std::string user = write("user.c", "#include \"shared.h\"\nint main() { return shared(); }\n");
  EXPECT_EQ(run({"check", user}, out), 1);
  EXPECT_NE(out.find("ファイルのオープンに失敗しました"), std::string::npos) << out;
  EXPECT_EQ(run({"check", "-I", (dir_ / "inc2").string(), user}, out), 0) << out;
  EXPECT_EQ(
      run({"check", "-I" + (dir_ / "inc1").string(), "-I", (dir_ / "inc2").string(), user}, out), 0)
      << out;
  EXPECT_NE(out.find("shared.h(1) : ';' がありません [missing ';']"), std::string::npos) << out;

  // The game's own talven.h wins over the one in the binary.
  write("talven.h", "int own() { return 5; }\n");
  std::string mine = write("mine.c", "#include \"talven.h\"\nint main() { return own(); }\n");
  EXPECT_EQ(run({"check", mine}, out), 0) << out;
  EXPECT_EQ(run({"check", game}, out), 1) << out;  // abs is not in the game's header
  EXPECT_NE(out.find("abs 関数は定義されていません"), std::string::npos) << out;
  EXPECT_EQ(run({"check", "-I"}, out), 2);
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

TEST_F(CompilerTools, CheckShowsWarningsAndStillSucceeds) {
  std::string file = write("calls.c",
                           "#include \"talven.h\"\n"
                           "int main() {\n"
                           "  gfill(0, 1, 2, 3, 4);\n"
                           "  return sqrt(2);\n"
                           "}\n");
  std::string out;
  EXPECT_EQ(run({"check", file}, out), 0) << out;
  EXPECT_NE(out.find("calls.c(3) : 警告: gfill の引数は 6 個ですが、5 個渡されています。 "
                     "[warning: builtin gfill takes 6 arguments, 5 given]\n"
                     "      gfill(0, 1, 2, 3, 4);\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("[warning: argument 1 of sqrt is a float"), std::string::npos) << out;
  EXPECT_NE(out.find("calls.c: ok"), std::string::npos) << out;
  // disasm names what it lists.
  EXPECT_EQ(run({"disasm", file}, out), 0) << out;
  EXPECT_NE(out.find("; builtin gfill\n"), std::string::npos);
  EXPECT_NE(out.find("; function main\n"), std::string::npos);
  EXPECT_NE(out.find("calls.c(3)"), std::string::npos);
}

TEST_F(CompilerTools, TheBuiltinHeaderIsFoundWithoutANotice) {
  // With file notices on, a missing "talven.h" beside the script is not
  // one: the built-in copy is used silently.
  std::string game = write("quiet.c", "#include \"talven.h\"\nint main() { return abs(-1); }\n");
  std::string out;
  ASSERT_TRUE(set_config_value("Error", "2"));
  testing::internal::CaptureStderr();
  int status = run({"check", "--config", "Error=2", game}, out);
  std::string err = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(set_config_value("Error", "1"));
  EXPECT_EQ(status, 0) << out;
  EXPECT_EQ(err.find("talven.h"), std::string::npos) << err;
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

// check compiles once, without a program area: the sizes and messages it
// reports are those of a compilation into an area (as disasm makes).
TEST_F(CompilerTools, CheckReportsTheSizesOfTheImage) {
  // Strings, initialised globals, statics, structures and a forward call:
  // every part of the image that the measuring compilation must count.
  std::string file = write("sizes.c",
                           "struct P { int x; char c; short s; };\n"
                           "struct P points[7];\n"
                           "char *names[3] = {\"one\", \"two\", \"three\"};\n"
                           "float f = 1.5;\n"
                           "int main() {\n"
                           "  static int count = 4;\n"
                           "  char *s = \"a string of some length\";\n"
                           "  points[2].x = later(count) + s[3];\n"
                           "  return points[2].x;\n"
                           "}\n"
                           "int later(int v) { return v * 3; }\n");
  std::string checked, listed;
  ASSERT_EQ(run({"check", file}, checked), 0) << checked;
  ASSERT_EQ(run({"disasm", file}, listed), 0) << listed;
  unsigned code = 0, data = 0, image_code = 0, image_data = 0, at = 0;
  ASSERT_EQ(std::sscanf(checked.substr(checked.find(": ok (")).c_str(),
                        ": ok (code %u bytes, data %u bytes)", &code, &data),
            2)
      << checked;
  ASSERT_EQ(std::sscanf(listed.substr(listed.find(": code ")).c_str(),
                        ": code %u bytes at %X, data %u bytes", &image_code, &at, &image_data),
            3)
      << listed;
  EXPECT_EQ(code, image_code);
  EXPECT_EQ(data, image_data);
  EXPECT_GT(data, 3u * 4 + 7u * 8);  // the pointers, the structures and the strings
}

TEST_F(CompilerTools, EachMessageIsPrintedOnce) {
  std::string file = write("twice.c", "int main() {\n  int a;\n  a = (1;\n  return gone();\n}\n");
  std::string out;
  EXPECT_EQ(run({"check", file}, out), 1);
  std::size_t first = out.find("twice.c(3) : ')'");
  ASSERT_NE(first, std::string::npos) << out;
  EXPECT_EQ(out.find("twice.c(3) : ')'", first + 1), std::string::npos) << out;
  EXPECT_NE(out.find("twice.c: failed"), std::string::npos) << out;
}

}  // namespace
}  // namespace talven::script

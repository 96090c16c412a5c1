// check compiles once, without a program area: the sizes and messages it
// reports are those of a compilation into an area (as disasm makes).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "script/script_tools.h"

namespace talven::script {
namespace {

class CheckSizes : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("talven_check_" + std::to_string(::getpid()));
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

TEST_F(CheckSizes, CheckReportsTheSizesOfTheImage) {
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
  ASSERT_EQ(std::sscanf(checked.substr(checked.find(": ok (")).c_str(), ": ok (code %u bytes, data %u bytes)", &code,
                        &data),
            2)
      << checked;
  ASSERT_EQ(std::sscanf(listed.substr(listed.find(": code ")).c_str(), ": code %u bytes at %X, data %u bytes", &image_code,
                        &at, &image_data),
            3)
      << listed;
  EXPECT_EQ(code, image_code);
  EXPECT_EQ(data, image_data);
  EXPECT_GT(data, 3u * 4 + 7u * 8);  // the pointers, the structures and the strings
}

TEST_F(CheckSizes, EachMessageIsPrintedOnce) {
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

// Runs of the real binary that check what a message and a stopped run say:
// a builtin's message names the builtin and the call's script places,
// --timeout names the place of every script thread, and (where xvfb-run
// and xdotool exist) a message in a window without a desktop is drawn in
// the window and holds its script thread until it is dismissed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "support/run_binary.h"

namespace {

namespace fs = std::filesystem;

const fs::path kSource = fs::path(TALVEN_TEST_DATA).parent_path().parent_path();

class MessagePlaces : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("talven_places_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::copy_file(kSource / "sdk" / "talven.h", dir_ / "talven.h");
  }
  void TearDown() override { fs::remove_all(dir_); }
  void game(const std::string& script, const std::string& extra_config = "") {
    std::ofstream(dir_ / "Quest.cfg", std::ios::binary)
        << "[General]\nFileSystem=3\n"
        << extra_config << "[Screen]\nWidth=320\nHeight=240\n[Script]\nLoad=main.c\n";
    std::ofstream(dir_ / "main.c", std::ios::binary) << "#include \"talven.h\"\n" << script;
  }
  fs::path dir_;
};

TEST_F(MessagePlaces, ABuiltinsMessageNamesTheBuiltinAndWhereItWasCalled) {
  game(
      "int show(int slot) {\n"               // line 2
      "  return gload(slot, \"no.png\");\n"  // line 3
      "}\n"
      "int main() {\n"
      "  show(0);\n"  // line 6
      "  return 4;\n"
      "}\n");
  auto r = talven::test::run_talven("--headless --timeout 20 " + dir_.string());
  EXPECT_EQ(r.status, 4) << r.out;
  // The text as shown, then the gloss and the builtin, then the places.
  EXPECT_NE(r.out.find("talven: LoadPlane : 画像ファイルの読み込みに失敗しました。 | File : no.png "
                       "[gload: the image file could not be read]\n"
                       "  at main.c(3) in show\n"
                       "  at main.c(6) in main\n"),
            std::string::npos)
      << r.out;
}

TEST_F(MessagePlaces, TimeoutNamesTheLineAndFunctionOfEveryThread) {
  game(
      "int worker(int a) {\n"
      "  for (;;) {\n"
      "    sleep(20);\n"  // line 4
      "  }\n"
      "  return 0;\n"
      "}\n"
      "int spin(int n) {\n"
      "  int i;\n"
      "  for (i = 0; ; i++) { n = n + i; }\n"  // line 10
      "  return n;\n"
      "}\n"
      "int main() {\n"
      "  thd_begin(worker, 0, 0, 0);\n"
      "  return spin(3);\n"  // line 15
      "}\n");
  auto r = talven::test::run_talven("--headless --timeout 1 " + dir_.string());
  EXPECT_EQ(r.status, 124) << r.out;
  EXPECT_NE(r.out.find("talven: stopped after 1.0 seconds\n"), std::string::npos) << r.out;
  EXPECT_TRUE(std::regex_search(
      r.out, std::regex("talven:   thread 0: running, depth 1, pc 0x[0-9a-f]+; at main\\.c\\(10\\) "
                        "in spin, from main\\.c\\(15\\) in main\n")))
      << r.out;
  EXPECT_TRUE(std::regex_search(
      r.out,
      std::regex("talven:   thread 1: (sleeping|running), depth 1, pc 0x[0-9a-f]+; in sleep, "
                 "called at main\\.c\\(4\\) in worker\n")))
      << r.out;
  EXPECT_EQ(r.out.find("(0)"), std::string::npos) << r.out;
}

bool have(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

TEST_F(MessagePlaces, WithoutADesktopAMessageIsDrawnInTheWindowUntilDismissed) {
  if (!have("xvfb-run") || !have("xdotool")) GTEST_SKIP() << "needs xvfb-run and xdotool";
  // The script thread waits for the message; only Enter lets it go on to
  // log "after" and exit.
  game(
      "int main() {\n"
      "  log_out(\"before\");\n"
      "  gload(0, \"no.png\");\n"
      "  log_out(\"after\");\n"
      "  exit();\n"
      "  return 0;\n"
      "}\n");
  const fs::path out = dir_ / "out.txt";
  const std::string run = std::string(TALVEN_BINARY) + " --log --timeout 20 " + dir_.string() +
                          " >" + out.string() + " 2>&1";
  // On the virtual display: start, look after a while, press Enter with
  // the pointer over the window (without a window manager the keyboard
  // goes where the pointer is), then wait for the end.
  const std::string script = run + " & p=$!; sleep 2; cp " + out.string() + " " +
                             (dir_ / "early.txt").string() +
                             "; xdotool mousemove 400 300; sleep 0.2; xdotool key Return; "
                             "wait $p; echo status=$? >>" +
                             out.string();
  const std::string cmd =
      "ASAN_OPTIONS=detect_leaks=0 xvfb-run -a -s '-screen 0 800x600x24' sh -c '" +
      std::regex_replace(script, std::regex("'"), "'\\''") + "' 2>&1";
  std::string result;
  for (int attempt = 0; attempt < 3; ++attempt) {
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buf[1024];
    result.clear();
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) result.append(buf, n);
    pclose(p);
    if (result.find("xvfb-run: error") == std::string::npos) break;
  }
  std::stringstream early, all;
  early << std::ifstream(dir_ / "early.txt").rdbuf();
  all << std::ifstream(out).rdbuf();
  EXPECT_NE(early.str().find("before"), std::string::npos) << early.str() << result;
  EXPECT_EQ(early.str().find("after"), std::string::npos) << "the script went on under the box\n"
                                                          << early.str();
  EXPECT_NE(all.str().find("after"), std::string::npos) << all.str() << result;
  EXPECT_NE(all.str().find("status=0"), std::string::npos) << all.str() << result;
}

}  // namespace

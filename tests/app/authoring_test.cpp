// A game author's first steps, through the real binary: a game made by
// `talven new` and the bundled example run from folders outside the
// repository, diagnostics on standard error, the hint for a main script the
// configuration cannot see, and the examples of docs/language.md.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_binary.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

const fs::path kSource = fs::path(TALVEN_TEST_DATA).parent_path().parent_path();

std::string read_text(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Standard output and standard error kept apart.
struct SplitRun {
  int status = -1;
  std::string out, err;
};

SplitRun run_split(const std::string& args, const fs::path& err_file) {
  SplitRun r;
  const auto run = talven::test::run_shell_output(std::string(TALVEN_BINARY) + " " + args + " 2>" +
                                                  err_file.string());
  r.status = run.status;
  r.out = run.out;
  r.err = read_text(err_file);
  talven::test::detail::drop_carriage_returns(r.err);  // written through a text-mode stream
  return r;
}

class Authoring : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = talven::test::make_temp_dir("talven_author_");
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A game folder "Quest" holding the files of tests/scripts/diagnostics.
  fs::path diagnostics_game(const std::string& main, const std::string& extra_config = "") {
    fs::path game = dir_ / "quest";
    fs::create_directories(game);
    for (const auto& e : fs::directory_iterator(kSource / "tests" / "scripts" / "diagnostics"))
      fs::copy_file(e.path(), game / e.path().filename());
    std::ofstream(game / "Quest.cfg") << "[General]\nFileSystem=3\n"
                                      << extra_config << "[Script]\nLoad=" << main << "\n";
    return game;
  }

  fs::path dir_;
};

TEST_F(Authoring, NewGameAndTheExampleRunFromAnyFolder) {
  // `talven new` makes a game that runs at once, with nothing from the SDK.
  auto made = talven::test::run_talven("new Comet " + (dir_ / "comet").string());
  ASSERT_EQ(made.status, 0) << made.out;
  EXPECT_TRUE(fs::exists(dir_ / "comet" / "Comet.cfg"));
  EXPECT_TRUE(fs::exists(dir_ / "comet" / "README.txt"));
  const std::string script = read_text(dir_ / "comet" / "Comet" / "main.c");
  EXPECT_NE(script.find("#include \"talven.h\""), std::string::npos);
  EXPECT_FALSE(fs::exists(dir_ / "comet" / "talven.h"));
  EXPECT_NE(read_text(dir_ / "comet" / "Comet.cfg").find("\nFileSystem=3\n"), std::string::npos);

  auto check = talven::test::run_talven("check " + (dir_ / "comet" / "Comet" / "main.c").string());
  EXPECT_EQ(check.status, 0) << check.out;
  auto run = talven::test::run_talven("--headless --frames 20 " + (dir_ / "comet").string());
  EXPECT_EQ(run.status, 124) << run.out;  // ended by --frames, no error
  EXPECT_EQ(run.out.find("talven: "), run.out.find("talven: stopped")) << run.out;

  // Never over an existing game; bad names are refused.
  EXPECT_EQ(talven::test::run_talven("new Comet " + (dir_ / "comet").string()).status, 1);
  EXPECT_EQ(script, read_text(dir_ / "comet" / "Comet" / "main.c"));
  EXPECT_EQ(talven::test::run_talven("new ../evil " + dir_.string()).status, 2);
  EXPECT_EQ(talven::test::run_talven("new").status, 2);

  // The example, copied on its own.
  fs::copy(kSource / "examples" / "orbit", dir_ / "orbit", fs::copy_options::recursive);
  EXPECT_FALSE(fs::exists(dir_ / "orbit" / "talven.h"));
  auto orbit = talven::test::run_talven("--headless --frames 30 " + (dir_ / "orbit").string());
  EXPECT_EQ(orbit.status, 124) << orbit.out;
}

TEST_F(Authoring, CompileErrorInAnIncludedFileShowsGlossLineAndCaret) {
  fs::path game = diagnostics_game("broken.c");
  SplitRun r = run_split("--headless --timeout 30 " + game.string(), dir_ / "err.txt");
  EXPECT_EQ(r.status, 121) << r.err;
  const std::string expected =
      "talven: helpers.h(6) : 定義されていない文字列です。 [error 15: undefined name 'scale']\n"
      "        return v * scale;\n"
      "                         ^\n";
  EXPECT_NE(r.err.find(expected), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("??"), std::string::npos) << r.err;
}

TEST_F(Authoring, MissingTokensOfTheMeasuringPassAreShownOnce) {
  fs::path game = diagnostics_game("once.c");
  std::ofstream(game / "once.c") << "int main() {\n  int a;\n  a = (2;\n  return a;\n}\n";
  SplitRun r = run_split("--headless --timeout 30 " + game.string(), dir_ / "err.txt");
  EXPECT_EQ(r.status, 2);
  const std::string line = "talven: once.c(3) : ')' がありません [missing ')']\n";
  std::size_t first = r.err.find(line);
  ASSERT_NE(first, std::string::npos) << r.err;
  EXPECT_EQ(r.err.find(line, first + 1), std::string::npos) << r.err;
}

TEST_F(Authoring, RunTimeErrorThreeCallsDeepNamesEveryFrame) {
  fs::path game = diagnostics_game("deep.c");
  SplitRun r = run_split("--headless --log --timeout 30 " + game.string(), dir_ / "err.txt");
  EXPECT_EQ(r.status, 122) << r.err;
  EXPECT_EQ(r.out, "before\n");
  EXPECT_NE(r.err.find("talven: Divide by zero error. [run-time error: integer division by zero]\n"
                       "  at deep.c(6) in ratio\n"
                       "  at deep.c(11) in middle\n"
                       "  at deep.c(16) in outer\n"
                       "  at deep.c(22) in main\n"),
            std::string::npos)
      << r.err;
}

TEST_F(Authoring, BadBuiltinCallIsPlacedAtItsCaller) {
  fs::path game = diagnostics_game("argcount.c", "DebugMode=1\n");
  SplitRun r = run_split("--headless --timeout 30 " + game.string(), dir_ / "err.txt");
  EXPECT_EQ(r.status, 122) << r.err;
  EXPECT_NE(
      r.err.find(
          "talven: Not enough arguments. - abs [run-time error: the builtin takes 1 argument, "
          "the call passes 0]\n"
          "  at argcount.c(8) in wrong\n"
          "  at argcount.c(13) in main\n"),
      std::string::npos)
      << r.err;
}

// With DebugMode, writes into the guard zones around blocks and into freed
// blocks are invalid addresses naming the block; without it the same
// scripts run to their end.
TEST_F(Authoring, DebugModeGuardsCatchWritesOutsideBlocks) {
  struct Case {
    const char* script;
    std::string detail;  // after the address
    const char* place;
  };
  const Case cases[] = {
      {"guard_end.c",
       " \\[run-time error: a write past the end of a block of 100 bytes at 0x[0-9A-F]{8} \\(at "
       "offset 100\\)\\]",
       "  at guard_end.c(10) in main"},
      {"guard_freed.c",
       " \\[run-time error: a write into a freed block of 40 bytes at 0x[0-9A-F]{8} \\(at offset "
       "8\\)\\]",
       "  at guard_freed.c(13) in main"},
      {"guard_builtin.c",
       " \\[run-time error: a write past the end of a block of 16 bytes at 0x[0-9A-F]{8} \\(at "
       "offset 16\\)\\]",
       "  at guard_builtin.c(6) in fill"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    fs::path game = diagnostics_game(c.script, "DebugMode=1\n");
    SplitRun r = run_split("--headless --timeout 30 " + game.string(), dir_ / "err.txt");
    EXPECT_EQ(r.status, 122) << r.err;
    EXPECT_TRUE(std::regex_search(
        r.err, std::regex("talven: Invalid address error - 0x[0-9A-F]{8}" + c.detail)))
        << r.err;
    EXPECT_NE(r.err.find(c.place), std::string::npos) << r.err;
    fs::remove_all(game);
    game = diagnostics_game(c.script);
    r = run_split("--headless --timeout 30 " + game.string(), dir_ / "err.txt");
    EXPECT_EQ(r.status, std::string(c.script) == "guard_builtin.c" ? 65 : 7) << r.err;
    fs::remove_all(game);
  }
}

TEST_F(Authoring, ArchivesOnlyConfigurationHintsAtFileSystem) {
  fs::path game = dir_ / "quest";
  fs::create_directories(game / "Quest");
  std::ofstream(game / "Quest" / "main.c") << "int main() { return 0; }\n";
  std::ofstream(game / "Quest.cfg") << "[General]\nFileSystem=1\n";
  SplitRun r = run_split("--headless --timeout 30 " + game.string(), dir_ / "err.txt");
  EXPECT_EQ(r.status, 121) << r.err;
  EXPECT_NE(r.err.find(
                "hint: Quest\\main.c exists as a loose file, but FileSystem=1 reads archives only; "
                "set FileSystem=3"),
            std::string::npos)
      << r.err;
  // With loose files allowed the same game runs, and no hint is given.
  std::ofstream(game / "Quest.cfg") << "[General]\nFileSystem=2\n";
  r = run_split("--headless --timeout 30 " + game.string(), dir_ / "err.txt");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err.find("hint:"), std::string::npos) << r.err;
}

// Every ```c block of docs/language.md followed by a ```text block is run;
// its log lines must be that text. A line "// ---- NAME ----" in a block
// starts another script file of the same game.
TEST_F(Authoring, LanguageDocumentExamplesRunAsShown) {
  const std::string doc = read_text(kSource / "docs" / "language.md");
  ASSERT_FALSE(doc.empty());
  std::regex pair("```c\n([\\s\\S]*?)```\n\n```text\n([\\s\\S]*?)```");
  int examples = 0;
  for (std::sregex_iterator it(doc.begin(), doc.end(), pair), end; it != end; ++it) {
    ++examples;
    fs::path game = dir_ / ("ex" + std::to_string(examples));
    fs::create_directories(game / "Ex");
    const std::string code = (*it)[1].str();
    const std::regex file_line("^// ---- (\\S+) ----$");
    std::string name = "main.c", text;
    std::istringstream lines(code);
    for (std::string line; std::getline(lines, line);) {
      std::smatch m;
      if (std::regex_match(line, m, file_line)) {
        std::ofstream(game / "Ex" / name) << text;
        name = m[1];
        text.clear();
      } else {
        text += line + "\n";
      }
    }
    std::ofstream(game / "Ex" / name) << text;
    std::ofstream(game / "Ex.cfg") << "[General]\nFileSystem=3\n";
    SplitRun r = run_split("--headless --log --timeout 30 " + game.string(), dir_ / "err.txt");
    EXPECT_EQ(r.status, 0) << "example " << examples << ":\n" << (*it)[1].str() << r.err;
    EXPECT_EQ(r.out, (*it)[2].str()) << "example " << examples << ":\n" << (*it)[1].str() << r.err;
  }
  EXPECT_GE(examples, 12);
}

}  // namespace

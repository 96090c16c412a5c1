// The installed manual page and bash completion are generated from the
// binary's --help (packaging/make-manpage, packaging/make-completion): every
// option and tool of the help reaches both, the page is valid roff, and the
// completion offers options, tools, files and folders where they belong.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "base/atomic_file.h"
#include "support/run_binary.h"

namespace {

namespace fs = std::filesystem;

const fs::path kSource = fs::path(TALVEN_TEST_DATA).parent_path().parent_path();

struct Scratch {
  fs::path dir = fs::temp_directory_path() / ("talven_packaging_" + std::to_string(::getpid()));
  Scratch() {
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  ~Scratch() { fs::remove_all(dir); }
};

// Standard output (and error) of a shell command, and its status.
talven::test::BinaryRun shell(const std::string& command) {
  return talven::test::run_shell(command);
}

// The first word of each "  --option ..." and "  tool ..." row of --help.
void help_rows(std::vector<std::string>& options, std::vector<std::string>& tools) {
  const std::string help = talven::test::run_talven("--help").out;
  std::istringstream in(help);
  std::string line;
  bool in_tools = false;
  std::smatch m;
  const std::regex row("^  ([-a-z]+)( .*)?$");
  while (std::getline(in, line)) {
    if (line.rfind("tools for game authors:", 0) == 0) in_tools = true;
    if (!std::regex_match(line, m, row)) continue;
    std::string word = m[1];
    if (!in_tools && word.rfind("--", 0) == 0) options.push_back(word);
    if (in_tools && word[0] != '-') tools.push_back(word);
  }
}

std::string roff_dashes(const std::string& s) {
  return std::regex_replace(s, std::regex("-"), "\\-");
}

TEST(Packaging, TheManualPageHasEveryOptionAndToolOfTheHelp) {
#ifdef _WIN32
  GTEST_SKIP() << "the manual page is for the POSIX packages";
#endif
  Scratch s;
  const fs::path page = s.dir / "talven.1";
  auto made = shell("python3 " + (kSource / "packaging" / "make-manpage").string() + " " +
                    TALVEN_BINARY + " " + (kSource / "README.md").string() + " " + page.string());
  ASSERT_EQ(made.status, 0) << made.out;
  std::string text;
  ASSERT_TRUE(talven::read_file(page.string(), text));
  std::vector<std::string> options, tools;
  help_rows(options, tools);
  ASSERT_GE(options.size(), 10u);
  ASSERT_GE(tools.size(), 8u);
  for (const std::string& o : options)
    EXPECT_NE(text.find(".TP\n\\fB" + roff_dashes(o) + "\\fR"), std::string::npos) << o;
  for (const std::string& t : tools)
    EXPECT_NE(text.find(".TP\n\\fBtalven " + t), std::string::npos) << t;
  EXPECT_NE(text.find(".SH EXIT STATUS"), std::string::npos);
  // No line may start a roff request by accident (a README line beginning
  // with '.' or '\'' is escaped), and groff, where present, reads it cleanly.
  std::istringstream lines(text);
  std::string line;
  const std::regex request(R"(^\.(TH|SH|PP|TP|IP|RS|RE|nf|fi|br|B)( .*)?$)");
  while (std::getline(lines, line)) {
    if (!line.empty() && (line[0] == '.' || line[0] == '\'')) {
      EXPECT_TRUE(std::regex_match(line, request)) << line;
    }
  }
  if (shell("command -v groff").status == 0) {
    auto checked = shell("groff -man -ww -z " + page.string());
    EXPECT_EQ(checked.status, 0) << checked.out;
    EXPECT_EQ(checked.out, "");
  }
}

TEST(Packaging, TheCompletionOffersOptionsToolsFilesAndFolders) {
#ifdef _WIN32
  GTEST_SKIP() << "the completion is for bash on POSIX systems";
#endif
  Scratch s;
  const fs::path script = s.dir / "talven.bash";
  auto made = shell("python3 " + (kSource / "packaging" / "make-completion").string() + " " +
                    TALVEN_BINARY + " " + script.string());
  ASSERT_EQ(made.status, 0) << made.out;
  fs::create_directories(s.dir / "work" / "catch");
  ASSERT_TRUE(talven::write_file_atomic((s.dir / "work" / "demo.txt").string(), "\n"));
  // What the completion offers for a command line whose last word is typed.
  auto offered = [&](const std::string& words) {
    return shell("cd " + (s.dir / "work").string() + " && bash -c 'source " + script.string() +
                 "; COMP_WORDS=(" + words + "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _talven; " +
                 "echo \"${COMPREPLY[*]}\"'")
        .out;
  };
  EXPECT_EQ(offered("talven --he"), "--headless --help\n");
  EXPECT_EQ(offered("talven c"), "check compress catch\n");   // a tool, or a game folder
  EXPECT_EQ(offered("talven --input de"), "demo.txt\n");      // --input takes a file
  EXPECT_EQ(offered("talven --frames \"\""), "\n");           // a number: nothing to offer
  EXPECT_EQ(offered("talven --headless ca"), "catch\n");      // GAME: folders only
  EXPECT_EQ(offered("talven check x.c -"), "--config -I\n");  // the tool's own options
  EXPECT_EQ(offered("talven check x.c -I ca"), "catch\n");    // -I takes a folder
  EXPECT_EQ(offered("talven pack --b"), "--backslash\n");
  std::vector<std::string> options, tools;
  help_rows(options, tools);
  const std::string all_options = offered("talven -");
  for (const std::string& o : options) EXPECT_NE(all_options.find(o), std::string::npos) << o;
  const std::string all_tools = offered("talven \"\"");
  for (const std::string& t : tools) EXPECT_NE(all_tools.find(t), std::string::npos) << t;
}

}  // namespace
